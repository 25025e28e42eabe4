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

QDate dateFromDays(double days)
{
    const double whole = std::trunc(days);
    return QDate::fromJulianDay(kEpochJulianDay + qint64(whole));
}

QTime timeFromDays(double days)
{
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
