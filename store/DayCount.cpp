#include "store/DayCount.h"

#include <cmath>

namespace store {

namespace {
constexpr double kMsPerDay = 86400000.0;
}

double daysFromDate(const QDate& date)
{
    if (!date.isValid())
        return 0.0;
    return double(date.toJulianDay() - kEpochJulianDay);
}

double daysFromTime(const QTime& time)
{
    if (!time.isValid())
        return 0.0;
    return time.msecsSinceStartOfDay() / kMsPerDay;
}

double daysFromDateTime(const QDateTime& dateTime)
{
    const double day = daysFromDate(dateTime.date());
    const double fraction = daysFromTime(dateTime.time());
    // Before the epoch the fraction still runs forward from midnight, so it
    // is subtracted from the (negative) whole day.
    return day < 0 ? day - fraction : day + fraction;
}

bool isStorableDayCount(double days)
{
    return std::isfinite(days) && days >= kFirstDayCount && days < kEndDayCount;
}

QDate dateFromDays(double days)
{
    // Far outside any calendar (or not a number at all): no date, instead of
    // an integer conversion that overflows.
    if (!std::isfinite(days) || std::fabs(days) > kMaxDayCount)
        return QDate();
    const double whole = std::trunc(days);
    return QDate::fromJulianDay(kEpochJulianDay + qint64(whole));
}

QTime timeFromDays(double days)
{
    if (!std::isfinite(days))
        return QTime();
    const double fraction = std::fabs(days - std::trunc(days));
    qint64 ms = qint64(std::llround(fraction * kMsPerDay));
    if (ms >= qint64(kMsPerDay))
        ms = qint64(kMsPerDay) - 1;
    return QTime::fromMSecsSinceStartOfDay(int(ms));
}

QDateTime dateTimeFromDays(double days)
{
    return QDateTime(dateFromDays(days), timeFromDays(days));
}

} // namespace store
