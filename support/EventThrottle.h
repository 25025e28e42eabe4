#pragma once

#include <QtGlobal>

#include <optional>

namespace support {

// Lets the windows handle their events during a long walk without paying for
// it after every row: the pending events are processed at the first call,
// then only once kIntervalMs of work has passed since the last time, and at
// once when the caller says it cannot wait (a close was asked for). Reads
// support::tickMsecs(), so tests step it with ClockOverride.
class EventThrottle {
public:
    static constexpr qint64 kIntervalMs = 10;

    // Returns whether the events were processed.
    bool processEvents(bool now = false);

private:
    std::optional<qint64> m_last; // when the events were last processed
};

} // namespace support
