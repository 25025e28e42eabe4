#include "shell/NetDirIni.h"

#include "shell/Paths.h"
#include "store/FileModes.h"
#include "store/Session.h"
#include "support/Text.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>
#include <QTextStream>

namespace shell {

namespace {

const QString kFile = QStringLiteral("NETDIR.INI");
const QString kSection = QStringLiteral("Options");
const QString kKey = QStringLiteral("NetDir");
const QString kMissing = QStringLiteral("xx");

} // namespace

QString netDirIniPath(const QString& programDir) { return joinPath(programDir, kFile); }

QString readNetDir(const QString& programDir)
{
    QString value = store::readIniValue(netDirIniPath(programDir), kSection, kKey, kMissing);
    if (!value.isEmpty() && value.endsWith(QLatin1Char('/')))
        value.chop(1);
    return value;
}

bool netDirIsSet(const QString& value)
{
    return value != kMissing && !support::isBlank(value);
}

bool writeNetDir(const QString& programDir, const QString& netDir)
{
    const QString path = netDirIniPath(programDir);
    QStringList lines;
    {
        QFile in(path);
        if (in.open(QIODevice::ReadOnly | QIODevice::Text)) {
            QTextStream stream(&in);
            while (!stream.atEnd())
                lines.append(stream.readLine());
        }
    }
    // Replace the key inside [Options], or add it (and the section).
    int sectionAt = -1;
    int keyAt = -1;
    int sectionEnd = -1;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = store::iniLine(lines[i]);
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            if (sectionAt >= 0 && sectionEnd < 0)
                sectionEnd = i;
            if (line.mid(1, line.size() - 2).trimmed().compare(kSection, Qt::CaseInsensitive) == 0
                && sectionAt < 0)
                sectionAt = i;
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (sectionAt >= 0 && sectionEnd < 0 && keyAt < 0 && eq > 0
            && line.left(eq).trimmed().compare(kKey, Qt::CaseInsensitive) == 0)
            keyAt = i;
    }
    const QString entry = kKey + QLatin1Char('=') + netDir;
    if (keyAt >= 0) {
        lines[keyAt] = entry;
    } else if (sectionAt >= 0) {
        lines.insert(sectionAt + 1, entry);
    } else {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines.append(QString());
        lines.append(QLatin1Char('[') + kSection + QLatin1Char(']'));
        lines.append(entry);
    }

    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream stream(&out);
    for (const QString& line : lines)
        stream << line << '\n';
    stream.flush();
    if (!out.commit())
        return false;
    store::setMode(path, store::kFileMode);
    return true;
}

} // namespace shell
