#pragma once

#include <QByteArray>
#include <QMetaType>

namespace store {

// A text bound with exactly the bytes it was read with: keys written by
// other programs need not be valid UTF-8, and a re-encoded key would compare
// differently.
struct RawText {
    QByteArray bytes;
    bool operator==(const RawText& other) const { return bytes == other.bytes; }
};

} // namespace store

Q_DECLARE_METATYPE(store::RawText)
