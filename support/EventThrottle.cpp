#include "support/EventThrottle.h"

#include "support/Clock.h"

#include <QCoreApplication>

namespace support {

bool EventThrottle::processEvents(bool now)
{
    if (!now && m_last) {
        const qint64 since = tickMsecs() - *m_last;
        // A clock that went back (a test's override ending) counts as due.
        if (since >= 0 && since < kIntervalMs)
            return false;
    }
    QCoreApplication::processEvents();
    // Counted from the end: a slow repaint does not eat into the work.
    m_last = tickMsecs();
    return true;
}

} // namespace support
