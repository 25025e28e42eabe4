#pragma once

#include <QDateTime>

// The program's clock. Tests fix "now" with ClockOverride.
namespace support {

QDateTime now();          // local time
double nowDays();         // now as a day count (days since 30 December 1899)
qint64 todayDayNumber();  // whole day number of today
int standardBiasMinutes(); // the time zone's standard bias: UTC = local + bias
// Milliseconds for measuring intervals: a monotonic count, cheap enough to
// read after every row; under ClockOverride the fixed time's milliseconds
// since the epoch, so that tests step it.
qint64 tickMsecs();
// The same count to a few milliseconds only, for a check after every row of
// a long walk: several times cheaper to read. Under ClockOverride the same as
// tickMsecs.
qint64 coarseTickMsecs();

class ClockOverride {
public:
    explicit ClockOverride(const QDateTime& fixedNow);
    ~ClockOverride();
    void set(const QDateTime& fixedNow);
    ClockOverride(const ClockOverride&) = delete;
    ClockOverride& operator=(const ClockOverride&) = delete;
};

} // namespace support
