#include "shell/Paths.h"

#include "store/FileModes.h"
#include "store/Session.h"
#include "support/Clock.h"
#include "support/Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <random>
#include <stdexcept>

namespace shell {

namespace {

constexpr qint64 kDay2000 = 36526;    // 1 January 2000 as a day number
constexpr int kRandomBound = 99999;   // random groups lie in 0 .. 99998
constexpr qint64 kBlockSize = 2048;

std::mt19937_64& generator()
{
    static std::mt19937_64 engine = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    return engine;
}

[[noreturn]] void copyError(const QString& what, const QFile& file)
{
    throw std::runtime_error(QStringLiteral("Could not %1 \"%2\": %3")
                                 .arg(what, file.fileName(), file.errorString())
                                 .toStdString());
}

} // namespace

QChar pathSeparator()
{
    return QDir::separator();
}

QString aliasDirectory(const QString& alias)
{
    // The last PATH line wins. Only a line whose key is PATH counts, so a key
    // that merely ends in PATH (BACKUPPATH=...) is not taken for it.
    QString directory;
    const QStringList params = store::Session::instance().getAliasParams(alias);
    for (const QString& line : params) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        if (line.left(eq).trimmed().compare(QLatin1String("PATH"), Qt::CaseInsensitive) == 0)
            directory = line.mid(eq + 1);
    }
    return directory;
}

QString joinPath(const QString& directory, const QString& name)
{
    if (support::isBlank(directory))
        return name;
    if (directory.endsWith(pathSeparator()))
        return directory + name;
    return directory + pathSeparator() + name;
}

QString encodeBase25(qint64 number, int digits)
{
    quint64 n = number < 0 ? 0 - quint64(number) : quint64(number);
    QString text;
    text.reserve(digits);
    for (int i = digits - 1; i >= 0; --i) {
        quint64 p = 1;
        for (int j = 0; j < i; ++j)
            p *= 25;
        const quint64 digit = n / p;
        n -= digit * p;
        text.append(QChar(char16_t(u'A' + digit)));
    }
    return text;
}

QString newRecordId()
{
    QString id = encodeBase25(support::todayDayNumber() - kDay2000, 4);
    std::uniform_int_distribution<int> draw(0, kRandomBound - 1);
    for (int i = 0; i < 5; ++i)
        id += encodeBase25(draw(generator()), 4);
    return id;
}

bool copyFile(const QString& source, const QString& destination)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    // Truncating the destination would wipe a source that is the same file.
    const QString sourcePath = QFileInfo(source).canonicalFilePath();
    if (!sourcePath.isEmpty() && sourcePath == QFileInfo(destination).canonicalFilePath())
        return false;
    // A new copy starts with its source's mode, before any data goes in.
    const int mode = store::modeOf(source);
    store::createFile(destination, mode >= 0 ? unsigned(mode) : store::kFileMode);
    QFile out(destination);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;

    char buffer[kBlockSize];
    for (;;) {
        const qint64 got = in.read(buffer, kBlockSize);
        if (got < 0)
            copyError(QStringLiteral("read"), in);
        if (got == 0)
            break;
        const qint64 put = out.write(buffer, got);
        // A short write means the disk is full or the file went away: the
        // copy is incomplete, so it is an error, never a success.
        if (put != got)
            copyError(QStringLiteral("write"), out);
    }
    if (!out.flush())
        copyError(QStringLiteral("write"), out);
    out.close();
    if (out.error() != QFileDevice::NoError)
        copyError(QStringLiteral("write"), out);
    return true;
}

} // namespace shell
