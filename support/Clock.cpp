#include "support/Clock.h"

#include "store/DayCount.h"

#include <QElapsedTimer>
#include <QTimeZone>

#include <ctime>
#include <optional>
#include <utility>
#include <vector>

namespace support {

namespace {

// Live overrides, innermost last; each object keeps its own entry so that
// nested overrides unwind in any order.
std::vector<std::pair<const ClockOverride*, QDateTime>>& overrides()
{
    static std::vector<std::pair<const ClockOverride*, QDateTime>> list;
    return list;
}

} // namespace

QDateTime now()
{
    const auto& list = overrides();
    if (!list.empty())
        return list.back().second;
    // Local time is UTC plus the zone's offset. Asking the C library for the
    // local time re-reads the zone file on every call, so the offset is
    // looked up at most once a second (journalling calls the clock several
    // times per row).
    static std::optional<qint64> offsetCheckedAt; // empty until the first call
    static int offsetSeconds = 0;
    const QDateTime utc = QDateTime::currentDateTimeUtc();
    const qint64 ms = utc.toMSecsSinceEpoch();
    if (!offsetCheckedAt || ms < *offsetCheckedAt || ms - *offsetCheckedAt >= 1000) {
        offsetSeconds = QDateTime::currentDateTime().offsetFromUtc();
        offsetCheckedAt = ms;
    }
    return utc.toOffsetFromUtc(offsetSeconds);
}

double nowDays()
{
    return store::daysFromDateTime(now());
}

qint64 todayDayNumber()
{
    return qint64(store::daysFromDate(now().date()));
}

int standardBiasMinutes()
{
    // standardTimeOffset is seconds east of UTC; the bias runs the other way.
    // Looking the zone up reads the system's zone files; once per run is enough.
    // Summer time is not part of the standard offset, which changes only
    // with a zone's rules: asked once per day of the clock.
    static const QTimeZone zone = QTimeZone::systemTimeZone();
    static QDate askedFor;
    static int bias = 0;
    const QDateTime at = now();
    if (at.date() != askedFor) {
        bias = -zone.standardTimeOffset(at) / 60;
        askedFor = at.date();
    }
    return bias;
}

qint64 tickMsecs()
{
    const auto& list = overrides();
    if (!list.empty())
        return list.back().second.toMSecsSinceEpoch();
    QElapsedTimer timer;
    timer.start();
    return timer.msecsSinceReference();
}

qint64 coarseTickMsecs()
{
    const auto& list = overrides();
    if (!list.empty())
        return list.back().second.toMSecsSinceEpoch();
#ifdef CLOCK_MONOTONIC_COARSE
    // The monotonic clock as of the last timer tick, as tickMsecs counts it.
    timespec ts;
    if (clock_gettime(CLOCK_MONOTONIC_COARSE, &ts) == 0)
        return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
#endif
    return tickMsecs();
}

ClockOverride::ClockOverride(const QDateTime& fixedNow)
{
    overrides().emplace_back(this, fixedNow);
}

ClockOverride::~ClockOverride()
{
    auto& list = overrides();
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->first == this) {
            list.erase(it);
            break;
        }
    }
}

void ClockOverride::set(const QDateTime& fixedNow)
{
    for (auto& entry : overrides()) {
        if (entry.first == this)
            entry.second = fixedNow;
    }
}

} // namespace support
