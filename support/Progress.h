#pragma once

#include <QString>
#include <QtGlobal>

namespace support {

// What a long walk tells about its progress, and how it learns that it should
// stop. The walks call it between units of work (never inside one), so a
// walk that stops leaves only whole units behind. Cheap to call after every
// row: an implementation decides itself how often it does anything visible.
class Progress {
public:
    virtual ~Progress() = default;
    // A stretch of work of total units begins; what names it for the user.
    virtual void begin(const QString& what, qint64 total) = 0;
    // done units of the current stretch are finished. Returns false when the
    // walk should stop here.
    virtual bool advance(qint64 done) = 0;
};

// The calls for walks whose progress may be nullptr (no one listens).
inline void beginProgress(Progress* progress, const QString& what, qint64 total)
{
    if (progress)
        progress->begin(what, total);
}

inline bool advanceProgress(Progress* progress, qint64 done)
{
    return !progress || progress->advance(done);
}

} // namespace support
