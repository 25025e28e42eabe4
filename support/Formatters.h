#pragma once

#include <QString>

// Short English texts for durations and dates, seen from a reference moment.
// Moments are day counts (days since 30 December 1899, fraction = time).
namespace support {

QString durationText(int minutes);
QString timeSpanText(bool appendAgo, double reference, double other);
QString relativeDateText(double reference, double date);

} // namespace support
