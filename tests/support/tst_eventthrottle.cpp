#include "support/Clock.h"
#include "support/EventThrottle.h"

#include <QtTest>

using support::EventThrottle;

namespace {

// Counts the events posted to it that have been delivered.
class Receiver : public QObject {
public:
    int delivered = 0;
    void post() { QCoreApplication::postEvent(this, new QEvent(QEvent::User)); }

protected:
    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        ++delivered;
        return true;
    }
};

const QDateTime kStart(QDate(2024, 3, 1), QTime(9, 0));

} // namespace

class EventThrottleTest : public QObject {
    Q_OBJECT
private slots:
    void processesAtFirstThenEveryInterval()
    {
        support::ClockOverride clock(kStart);
        EventThrottle throttle;
        Receiver receiver;
        receiver.post();
        QVERIFY(throttle.processEvents()); // the window repaints as the walk begins
        QCOMPARE(receiver.delivered, 1);

        receiver.post();
        for (int row = 0; row < 1000; ++row)
            QVERIFY(!throttle.processEvents()); // no time has passed: rows only
        clock.set(kStart.addMSecs(EventThrottle::kIntervalMs - 1));
        QVERIFY(!throttle.processEvents());
        QCOMPARE(receiver.delivered, 1);

        clock.set(kStart.addMSecs(EventThrottle::kIntervalMs));
        QVERIFY(throttle.processEvents());
        QCOMPARE(receiver.delivered, 2);

        // The interval counts from the last processing, not from the start.
        receiver.post();
        clock.set(kStart.addMSecs(2 * EventThrottle::kIntervalMs - 1));
        QVERIFY(!throttle.processEvents());
        clock.set(kStart.addMSecs(2 * EventThrottle::kIntervalMs));
        QVERIFY(throttle.processEvents());
        QCOMPARE(receiver.delivered, 3);
    }

    void processesAtOnceWhenItCannotWait()
    {
        support::ClockOverride clock(kStart);
        EventThrottle throttle;
        Receiver receiver;
        QVERIFY(throttle.processEvents());
        receiver.post();
        QVERIFY(throttle.processEvents(true));
        QCOMPARE(receiver.delivered, 1);
        receiver.post();
        QVERIFY(throttle.processEvents(true)); // every row, while it cannot wait
        QCOMPARE(receiver.delivered, 2);
    }

    void aClockThatWentBackDoesNotStopTheEvents()
    {
        EventThrottle throttle;
        Receiver receiver;
        {
            support::ClockOverride clock(kStart);
            QVERIFY(throttle.processEvents());
        }
        // Back on the monotonic count, far below the fixed time.
        receiver.post();
        QVERIFY(throttle.processEvents());
        QCOMPARE(receiver.delivered, 1);
    }

    // The cheap tick counts on the same clock, a timer tick behind at most;
    // under an override both read the fixed time.
    void theCoarseTickFollowsTheTick()
    {
        const qint64 before = support::tickMsecs();
        const qint64 coarse = support::coarseTickMsecs();
        const qint64 after = support::tickMsecs();
        QVERIFY2(coarse <= after && coarse >= before - 50, qPrintable(QString("%1 %2 %3").arg(before).arg(coarse).arg(after)));
        support::ClockOverride clock(kStart);
        QCOMPARE(support::coarseTickMsecs(), kStart.toMSecsSinceEpoch());
        QCOMPARE(support::tickMsecs(), kStart.toMSecsSinceEpoch());
    }
};

QTEST_MAIN(EventThrottleTest)
#include "tst_eventthrottle.moc"
