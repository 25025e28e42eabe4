// The progress window of long walks: hidden until the walk has taken a while,
// counts with thousands separators, and Cancel only where it is offered.

#include "support/Clock.h"
#include "ui/ProgressWindow.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

using ui::ProgressWindow;

namespace {

const QDateTime kStart(QDate(2024, 3, 1), QTime(9, 0));

int barValue(ProgressWindow& w) { return w.findChild<QProgressBar*>()->value(); }

} // namespace

class ProgressWindowTest : public QObject {
    Q_OBJECT
private slots:
    void showsAfterTheThresholdWithCounts();
    void countsOfAnySize();
    void cancelStopsTheWalk();
    void withoutCancelNothingStopsIt();
};

void ProgressWindowTest::showsAfterTheThresholdWithCounts()
{
    support::ClockOverride clock(kStart);
    ProgressWindow w("Exit clean-up", "pairs", ProgressWindow::Cancel::Offered);
    w.begin("Adding rows", 100000);
    QVERIFY(w.advance(1));
    clock.set(kStart.addMSecs(ProgressWindow::kShowAfterMs - 1));
    QVERIFY(w.advance(12000));
    QVERIFY(w.isHidden()); // a short walk shows nothing

    clock.set(kStart.addMSecs(ProgressWindow::kShowAfterMs));
    QVERIFY(w.advance(12400));
    QVERIFY(w.isVisible());
    QCOMPARE(w.windowModality(), Qt::ApplicationModal);
    QCOMPARE(w.windowTitle(), QString("Exit clean-up"));
    QCOMPARE(w.whatText(), QString("Adding rows"));
    QCOMPARE(w.countText(), QString("12,400 of 100,000 pairs"));
    QCOMPARE(barValue(w), 124);

    // The texts follow at most every kRedrawMs, whatever the number of rows.
    QVERIFY(w.advance(12401));
    QCOMPARE(w.countText(), QString("12,400 of 100,000 pairs"));
    clock.set(kStart.addMSecs(ProgressWindow::kShowAfterMs + ProgressWindow::kRedrawMs));
    QVERIFY(w.advance(50000));
    QCOMPARE(w.countText(), QString("50,000 of 100,000 pairs"));
    QCOMPARE(barValue(w), 500);

    // A new stretch starts its count from nought at once.
    w.begin("Removing rows", 3);
    QCOMPARE(w.whatText(), QString("Removing rows"));
    QCOMPARE(w.countText(), QString("0 of 3 pairs"));
    QCOMPARE(barValue(w), 0);
}

void ProgressWindowTest::countsOfAnySize()
{
    QCOMPARE(ProgressWindow::countText(0, 0, "users"), QString("0 of 0 users"));
    QCOMPARE(ProgressWindow::countText(999, 1000, "users"), QString("999 of 1,000 users"));
    QCOMPARE(ProgressWindow::countText(3000000000LL, 6000000000LL, "pairs"),
             QString("3,000,000,000 of 6,000,000,000 pairs"));

    // Beyond an int the bar still moves; an empty walk or a count past its
    // total (rows added meanwhile) keeps it in range.
    support::ClockOverride clock(kStart);
    ProgressWindow w("Caption", "pairs", ProgressWindow::Cancel::NotOffered);
    w.begin("Big", 6000000000LL);
    clock.set(kStart.addSecs(1));
    QVERIFY(w.advance(3000000000LL));
    QCOMPARE(barValue(w), 500);
    w.begin("Empty", 0);
    QCOMPARE(barValue(w), 0);
    w.begin("Grown", 10);
    clock.set(kStart.addSecs(2));
    QVERIFY(w.advance(12));
    QCOMPARE(w.countText(), QString("12 of 10 pairs"));
    QCOMPARE(barValue(w), 1000);
}

void ProgressWindowTest::cancelStopsTheWalk()
{
    // Esc, the Cancel button and the close box all ask the walk to stop; the
    // window stays until its opener deletes it.
    for (const char* way : {"escape", "button", "close box"}) {
        support::ClockOverride clock(kStart);
        ProgressWindow w("Exit clean-up", "pairs", ProgressWindow::Cancel::Offered);
        w.setNote("What Cancel leaves behind");
        w.begin("Adding rows", 10);
        clock.set(kStart.addSecs(1));
        QVERIFY(w.advance(1));
        QVERIFY(w.isVisible());
        bool noteShown = false;
        for (QLabel* label : w.findChildren<QLabel*>())
            noteShown |= label->isVisible() && label->text() == "What Cancel leaves behind";
        QVERIFY(noteShown);
        auto* cancel = w.findChild<QPushButton*>();
        QVERIFY(cancel);
        QCOMPARE(cancel->text(), QString("Cancel"));
        const QString how(way);
        if (how == "escape")
            QTest::keyClick(&w, Qt::Key_Escape);
        else if (how == "button")
            QTest::mouseClick(cancel, Qt::LeftButton);
        else
            QVERIFY(!w.close());
        QVERIFY2(w.cancelled(), way);
        QVERIFY(!w.advance(2));
        QVERIFY(!w.advance(3)); // it stays asked
        QVERIFY(!cancel->isEnabled());
        QVERIFY(w.isVisible());
    }

    // A Cancel before the window shows counts as well.
    support::ClockOverride clock(kStart);
    ProgressWindow hidden("Exit clean-up", "pairs", ProgressWindow::Cancel::Offered);
    hidden.reject();
    QVERIFY(!hidden.advance(1));
}

void ProgressWindowTest::withoutCancelNothingStopsIt()
{
    support::ClockOverride clock(kStart);
    ProgressWindow w("System Permissions", "users", ProgressWindow::Cancel::NotOffered);
    w.begin("Copying", 10);
    clock.set(kStart.addSecs(1));
    QVERIFY(w.advance(1));
    QVERIFY(w.isVisible());
    QVERIFY(!w.findChild<QPushButton*>());
    QVERIFY(!(w.windowFlags() & Qt::WindowCloseButtonHint));
    QTest::keyClick(&w, Qt::Key_Escape);
    QVERIFY(!w.close());
    QVERIFY(!w.cancelled());
    QVERIFY(w.advance(2));
    QVERIFY(w.isVisible());
}

QTEST_MAIN(ProgressWindowTest)
#include "tst_progresswindow.moc"
