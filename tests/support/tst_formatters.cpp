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

    // Both sides of every boundary: 14 and 15 days (reference not today),
    // this week / next or last week / weeks, weeks / months at three calendar
    // months, months / years at two calendar years; from today and from
    // another day, in both directions, with the week starting on any day.
    void relativeBoundaries_data()
    {
        QTest::addColumn<QDate>("today");
        QTest::addColumn<QDate>("reference");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("expected");
        auto add = [](const char* name, QDate today, QDate reference, QDate date, const char* expected) {
            QTest::newRow(name) << today << reference << date << QString::fromLatin1(expected);
        };
        const QDate sun(2021, 3, 14), sat(2021, 3, 13), wed(2021, 3, 10), other(2021, 6, 15);
        add("sun: sat after is this week", sun, sun, {2021, 3, 20}, "This week");
        add("sun: sun after is next week", sun, sun, {2021, 3, 21}, "Next week");
        add("sun: sat week after is next week", sun, sun, {2021, 3, 27}, "Next week");
        add("sun: two sundays on is 2 wks", sun, sun, {2021, 3, 28}, "2 wks");
        add("sun: fri before is last week", sun, sun, {2021, 3, 12}, "Last week");
        add("sun: sun before is last week", sun, sun, {2021, 3, 7}, "Last week");
        add("sun: sat before that is 2 wks ago", sun, sun, {2021, 3, 6}, "2 wks ago");
        add("sat: mon after is next week", sat, sat, {2021, 3, 15}, "Next week");
        add("sat: sat after is next week", sat, sat, {2021, 3, 20}, "Next week");
        add("sat: sun week after is 2 wks", sat, sat, {2021, 3, 21}, "2 wks");
        add("sat: sun before is this week", sat, sat, {2021, 3, 7}, "This week");
        add("sat: sat before is last week", sat, sat, {2021, 3, 6}, "Last week");
        add("sat: sun week before is last week", sat, sat, {2021, 2, 28}, "Last week");
        add("sat: sat week before is 2 wks ago", sat, sat, {2021, 2, 27}, "2 wks ago");
        add("today: 2 months back", wed, wed, {2021, 1, 1}, "10 wks ago");
        add("today: 3 months back", wed, wed, {2020, 12, 31}, "3 mos ago");
        add("today: 2 years back", wed, wed, {2019, 1, 1}, "26 mos ago");
        add("today: 3 years back", wed, wed, {2018, 12, 31}, "2 yrs 3 mos ago");
        add("today: 2 months on", wed, wed, {2021, 5, 31}, "12 wks");
        add("today: 3 months on", wed, wed, {2021, 6, 1}, "3 mos");
        add("today: 2 years on", wed, wed, {2023, 12, 31}, "33 mos");
        add("today: 3 years on", wed, wed, {2024, 1, 1}, "2 yrs 10 mos");
        add("other: 14 days back", wed, other, {2021, 6, 1}, "14 days");
        add("other: 15 days back", wed, other, {2021, 5, 31}, "2 wks");
        add("other: 14 days on", wed, other, {2021, 6, 29}, "14 days");
        add("other: 15 days on", wed, other, {2021, 6, 30}, "2 wks");
        add("other: 2 months back", wed, other, {2021, 4, 1}, "11 wks");
        add("other: 3 months back", wed, other, {2021, 3, 31}, "3 mos");
        add("other: 2 years back", wed, other, {2019, 1, 1}, "29 mos");
        add("other: 3 years back", wed, other, {2018, 12, 31}, "2 yrs 6 mos ");
        add("other: 2 months on", wed, other, {2021, 8, 31}, "11 wks");
        add("other: 3 months on", wed, other, {2021, 9, 1}, "3 mos");
        add("other: 2 years on", wed, other, {2023, 12, 31}, "30 mos");
        add("other: 3 years on", wed, other, {2024, 1, 1}, "2 yrs 7 mos");
    }
    void relativeBoundaries()
    {
        QFETCH(QDate, today);
        QFETCH(QDate, reference);
        QFETCH(QDate, date);
        QFETCH(QString, expected);
        ClockOverride clock(QDateTime(today, QTime(15, 20)));
        // The time of day of either value plays no part.
        const double ref = store::daysFromDateTime(QDateTime(reference, QTime(15, 20)));
        QCOMPARE(relativeDateText(ref, store::daysFromDate(date)), expected);
        QCOMPARE(relativeDateText(ref, store::daysFromDateTime(QDateTime(date, QTime(23, 59)))), expected);
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
