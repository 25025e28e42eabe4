#pragma once

#include <QString>

namespace support {

bool isWhiteSpace(QChar c);        // blank, CR, LF, backspace, tab
bool isBlank(const QString& text); // empty, or only isWhiteSpace characters
QString trimRight(const QString& text); // drops trailing characters of code 32 or less
QString uiText(const QString& text);    // every user-visible text the code supplies passes here
QString pluralS(int count);             // "s" above 1, else ""

// Lets the user interface process its pending events until ms milliseconds
// have passed on the tick count; returns at once for 0 or less.
void pause(int milliseconds);

} // namespace support
