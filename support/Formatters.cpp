#include "support/Formatters.h"

#include "store/DayCount.h"
#include "support/Clock.h"
#include "support/Text.h"

#include <QDate>
#include <QTime>

#include <cmath>
#include <cstdlib>

namespace support {

namespace {

// The pieces of a day count that the texts are built from.
qint64 dayNumber(double days)
{
    return qint64(std::trunc(days));
}

struct CalendarDate {
    int year = 0;
    int month = 0;
    int day = 0;
};

CalendarDate calendarDate(double days)
{
    const QDate date = store::dateFromDays(days);
    if (!date.isValid() || date < QDate(1, 1, 1))
        return {};
    return {date.year(), date.month(), date.day()};
}

// 1 = Sunday ... 7 = Saturday.
int dayOfWeek(double days)
{
    return store::dateFromDays(days).dayOfWeek() % 7 + 1;
}

// Minutes since midnight; seconds and milliseconds are dropped.
int minuteOfDay(double days)
{
    const QTime time = store::timeFromDays(days);
    return time.hour() * 60 + time.minute();
}

QString fill(const char* pattern, qint64 number)
{
    return uiText(QString::fromLatin1(pattern)).arg(number);
}

} // namespace

QString durationText(int minutes)
{
    const int hours = minutes / 60;
    const int rest = minutes - 60 * hours;
    if (hours == 0 && rest == 0)
        return uiText(QStringLiteral("0 min"));

    QString text;
    if (hours >= 2)
        text = fill("%1 hrs", hours);
    else if (hours == 1)
        text = fill("%1 hr", hours);
    if (rest > 0)
        text += QLatin1Char(' ') + fill("%1 min", rest);
    return text;
}

QString timeSpanText(bool appendAgo, double reference, double other)
{
    const int r = minuteOfDay(reference);
    const int o = minuteOfDay(other);
    QString text = durationText(std::abs(r - o));
    if (appendAgo && r > o)
        text += QLatin1Char(' ') + uiText(QStringLiteral("ago"));
    return text;
}

QString relativeDateText(double reference, double date)
{
    const CalendarDate dateCal = calendarDate(date);
    if (date == 0.0 || dateCal.year == 0)
        return QString();

    const CalendarDate refCal = calendarDate(reference);
    const qint64 refDay = dayNumber(reference);
    const qint64 dateDay = dayNumber(date);
    const bool later = refDay < dateDay;
    const qint64 days = later ? dateDay - refDay : refDay - dateDay;
    const bool refIsToday = refDay == todayDayNumber();

    if (refIsToday) {
        if (days == 0)
            return uiText(QStringLiteral("Today"));
        if (days == 1)
            return uiText(later ? QStringLiteral("Tomorrow") : QStringLiteral("Yesterday"));
    } else if (days < 15) {
        return uiText(QStringLiteral("%1 day%2")).arg(days).arg(pluralS(int(days)));
    }

    const int dowRef = dayOfWeek(reference);
    const int dowDate = dayOfWeek(date);
    const qint64 refMonths = qint64(refCal.year) * 12 + refCal.month;
    const qint64 dateMonths = qint64(dateCal.year) * 12 + dateCal.month;
    const qint64 months = later ? dateMonths - refMonths : refMonths - dateMonths;
    const qint64 years = later ? dateCal.year - refCal.year : refCal.year - dateCal.year;
    const qint64 whole = months / 12;
    const qint64 part = months % 12;

    if (later) {
        // Sundays after the reference day up to and including the date.
        const qint64 weeks = (days + dowRef - 1) / 7;
        if (7 - dowRef >= days)
            return uiText(QStringLiteral("This week"));
        if (weeks < 2)
            return uiText(QStringLiteral("Next week"));
        if (months < 3)
            return fill("%1 wks", weeks);
        if (years <= 2)
            return fill("%1 mos", months);
        QString text = fill("%1 yrs", whole);
        if (part > 0)
            text += QLatin1Char(' ') + fill("%1 mos", part);
        return text;
    }

    // Sundays after the date up to and including the reference day.
    const qint64 weeks = (days + dowDate - 1) / 7;
    if (weeks == 0)
        return uiText(QStringLiteral("This week"));
    if (weeks == 1)
        return uiText(QStringLiteral("Last week"));
    if (months < 3)
        return fill(refIsToday ? "%1 wks ago" : "%1 wks", weeks);
    if (years <= 2)
        return fill(refIsToday ? "%1 mos ago" : "%1 mos", months);
    QString text = fill("%1 yrs", whole) + QLatin1Char(' ');
    if (part > 0)
        text += fill("%1 mos", part) + QLatin1Char(' ');
    if (refIsToday)
        text += uiText(QStringLiteral("ago"));
    return text;
}

} // namespace support

