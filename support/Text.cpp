#include "support/Text.h"

#include "store/Table.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>

namespace support {

bool isWhiteSpace(QChar c)
{
    const char16_t u = c.unicode();
    return u == 32 || u == 13 || u == 10 || u == 8 || u == 9;
}

bool isBlank(const QString& text)
{
    return std::all_of(text.begin(), text.end(), isWhiteSpace);
}

QString trimRight(const QString& text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1).unicode() <= 32)
        --end;
    return text.left(end);
}

QString uiText(const QString& text)
{
    return text;
}

QString pluralS(int count)
{
    return count > 1 ? QStringLiteral("s") : QString();
}

void pause(int milliseconds)
{
    if (milliseconds <= 0)
        return;
    store::flushBatches(); // nothing stays locked while the program waits
    QElapsedTimer timer;
    timer.start();
    while (!timer.hasExpired(milliseconds)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        // Give the processor back between passes instead of spinning; the
        // sleep is short enough that clicks and repaints still feel instant.
        const qint64 left = milliseconds - timer.elapsed();
        if (left > 0)
            QThread::msleep(ulong(std::min<qint64>(left, 2)));
    }
}

} // namespace support
