#include "store/DayCount.h"
#include "support/Clock.h"
#include "support/Formatters.h"
#include "support/Text.h"

#include <QTimer>
#include <QtTest>

using namespace support;

namespace {
double day(int y, int m, int d) { return store::daysFromDate(QDate(y, m, d)); }
double at(int y, int m, int d, int h, int min, int s = 0)
{
    return store::daysFromDateTime(QDateTime(QDate(y, m, d), QTime(h, min, s)));
}
} // namespace

class FormattersTest : public QObject {
    Q_OBJECT
private slots:
    void duration()
    {
        const QList<QPair<int, QString>> cases = {
            {0, "0 min"},        {5, " 5 min"},   {59, " 59 min"},      {60, "1 hr"}, {61, "1 hr 1 min"},
            {120, "2 hrs"}, {125, "2 hrs 5 min"}, {1439, "23 hrs 59 min"}, {-5, ""},     {-61, ""}};
        for (const auto& [minutes, text] : cases)
            QCOMPARE(durationText(minutes), text);
    }

    void timeSpan()
    {
        const double nine = at(2021, 3, 10, 9, 0), fiveAfterTen = at(2021, 3, 10, 10, 5);
        QCOMPARE(timeSpanText(false, fiveAfterTen, nine), QStringLiteral("1 hr 5 min"));
        QCOMPARE(timeSpanText(false, nine, fiveAfterTen), QStringLiteral("1 hr 5 min"));
        QCOMPARE(timeSpanText(true, fiveAfterTen, nine), QStringLiteral("1 hr 5 min ago"));
        QCOMPARE(timeSpanText(true, nine, fiveAfterTen), QStringLiteral("1 hr 5 min"));
        // Seconds never count; the date part is ignored.
        QCOMPARE(timeSpanText(false, at(2021, 3, 10, 10, 0, 0), at(2021, 3, 10, 9, 59, 59)), QStringLiteral(" 1 min"));
        QCOMPARE(timeSpanText(true, at(2021, 3, 10, 10, 0, 59), at(2021, 3, 10, 10, 0)), QStringLiteral("0 min"));
        QCOMPARE(timeSpanText(true, at(2021, 3, 12, 10, 5), at(2020, 1, 1, 9, 0)), QStringLiteral("1 hr 5 min ago"));
    }

    void relativeFromToday()
    {
        ClockOverride clock(QDateTime(QDate(2021, 3, 10), QTime(15, 20))); // a Wednesday
        const QList<QPair<int, QString>> march = {
            {10, "Today"},     {9, "Yesterday"},  {8, "This week"},  {7, "This week"},  {6, "Last week"},
            {11, "Tomorrow"},  {13, "This week"}, {14, "Next week"}, {20, "Next week"}, {21, "2 wks"}};
        for (const auto& [d, text] : march)
            QCOMPARE(relativeDateText(nowDays(), day(2021, 3, d)), text);
        QCOMPARE(relativeDateText(nowDays(), day(2021, 2, 28)), QStringLiteral("Last week"));
        QCOMPARE(relativeDateText(nowDays(), day(2021, 2, 27)), QStringLiteral("2 wks ago"));
        QCOMPARE(relativeDateText(nowDays(), day(2020, 12, 5)), QStringLiteral("3 mos ago"));
        QCOMPARE(relativeDateText(nowDays(), 0.0), QString());
        QCOMPARE(relativeDateText(nowDays(), store::daysFromDate(QDate(-1, 12, 31))), QString()); // year 0
    }

    void relativeMonthsAndYears()
    {
        // The calendar-year difference picks the form, the month count the figures.
        ClockOverride clock(QDateTime(QDate(2021, 1, 20), QTime(9, 0)));
        QCOMPARE(relativeDateText(nowDays(), day(2018, 12, 28)), QStringLiteral("2 yrs 1 mos ago"));
        QCOMPARE(relativeDateText(nowDays(), day(2018, 1, 5)), QStringLiteral("3 yrs ago"));
        QCOMPARE(relativeDateText(nowDays(), day(2024, 12, 1)), QStringLiteral("3 yrs 11 mos"));
        QCOMPARE(relativeDateText(nowDays(), day(2024, 1, 31)), QStringLiteral("3 yrs"));
        QCOMPARE(relativeDateText(day(2021, 12, 2), day(2019, 1, 30)), QStringLiteral("35 mos"));
        clock.set(QDateTime(QDate(2021, 12, 2), QTime(9, 0)));
        QCOMPARE(relativeDateText(nowDays(), day(2019, 1, 30)), QStringLiteral("35 mos ago"));
    }

    void relativeFromAnotherDay()
    {
        ClockOverride clock(QDateTime(QDate(2021, 3, 10), QTime(12, 0)));
        const double reference = day(2021, 6, 15);
        for (int n = 0; n <= 14; ++n) {
            const QString expected = QStringLiteral("%1 day%2").arg(n).arg(n > 1 ? "s" : "");
            QCOMPARE(relativeDateText(reference, reference - n), expected);
            QCOMPARE(relativeDateText(reference, reference + n), expected);
        }
        QCOMPARE(relativeDateText(reference, day(2021, 5, 15)), QStringLiteral("5 wks"));
        QCOMPARE(relativeDateText(reference, day(2018, 4, 1)), QStringLiteral("3 yrs 2 mos "));
        QCOMPARE(relativeDateText(reference, day(2018, 6, 1)), QStringLiteral("3 yrs "));
    }

    void textHelpers()
    {
        QVERIFY(isBlank(QString()));
        QVERIFY(isBlank(QStringLiteral(" \t\r\n\b")));
        QVERIFY(!isBlank(QStringLiteral(" \t x")));
        QVERIFY(!isBlank(QStringLiteral("\f\v")));
        QCOMPARE(trimRight(QStringLiteral("  ab c \t\r\n\x01 ")), QStringLiteral("  ab c"));
        QCOMPARE(trimRight(QStringLiteral("ab\u00a0")), QStringLiteral("ab\u00a0"));
        QCOMPARE(pluralS(1) + pluralS(0) + pluralS(2), QStringLiteral("s"));
    }

    void pauseProcessesEventsOnlyWhenWaiting()
    {
        bool fired = false;
        QTimer::singleShot(0, this, [&] { fired = true; });
        pause(0);
        pause(-100);
        QVERIFY(!fired); // returned at once
        pause(20);
        QVERIFY(fired);
    }
};

QTEST_MAIN(FormattersTest)
#include "tst_formatters.moc"
