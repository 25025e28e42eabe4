#pragma once

#include <QTextStream>

// Standard output and error of the command-line tools, as text streams.
namespace tools {

inline QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

inline QTextStream& err()
{
    static QTextStream stream(stderr);
    return stream;
}

} // namespace tools
