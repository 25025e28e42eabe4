#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>

// Date-time values at the store's interface are day counts: whole days since
// 30 December 1899, the fraction being the time of day. Day 0 is 30 December
// 1899; earlier days are negative, and for them the fraction still counts
// forward from midnight of the day (so -1.25 is 29 December 1899, 06:00).
namespace store {

constexpr qint64 kEpochJulianDay = 2415019; // QDate(1899, 12, 30).toJulianDay()
// Day counts a stored date may have: 1 January 0001 to 31 December 9999.
constexpr double kFirstDayCount = -693593.0;
constexpr double kEndDayCount = 2958466.0; // exclusive
// Beyond this a day count is no date at all (and no conversion is tried).
constexpr double kMaxDayCount = 1.0e9;

bool isStorableDayCount(double days); // finite and within the range above

double daysFromDate(const QDate& date);
double daysFromTime(const QTime& time);           // fraction of a day, 0 <= f < 1
double daysFromDateTime(const QDateTime& dateTime); // local wall-clock value
QDate dateFromDays(double days);
QTime timeFromDays(double days);                   // milliseconds kept
QDateTime dateTimeFromDays(double days);

} // namespace store
