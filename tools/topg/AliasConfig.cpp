#include "tools/topg/AliasConfig.h"

#include "store/FileModes.h"
#include "store/StoreError.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringList>

namespace topg {

namespace {

QString sectionOf(const QString& line)
{
    const QString t = line.trimmed();
    if (t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']')))
        return t.mid(1, t.size() - 2).trimmed();
    return QString();
}

QString keyOf(const QString& line)
{
    const QString t = line.trimmed();
    const int eq = int(t.indexOf(QLatin1Char('=')));
    if (eq <= 0 || t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#')))
        return QString();
    return t.left(eq).trimmed().toUpper();
}

QStringList readLines(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        throw store::StoreError(QStringLiteral("Could not read %1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void writeLines(const QString& path, const QStringList& lines)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        throw store::StoreError(QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    if (!file.commit())
        throw store::StoreError(QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    store::setMode(path, store::kFileMode);
}

} // namespace

void pointAliasAtServer(const QString& configPath, const QString& alias, const QString& connection,
                        const QString& schema, const QString& dataDir)
{
    for (const QString& value : {alias, connection, schema, dataDir})
        if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')))
            throw store::StoreError(QStringLiteral("\"%1\" cannot be written into %2: it spans lines.")
                                        .arg(value, QDir::toNativeSeparators(configPath)));
    const QStringList lines = readLines(configPath);
    QStringList serverLines = {QStringLiteral("ENGINE=postgresql"), QStringLiteral("CONNECTION=") + connection,
                                     QStringLiteral("SCHEMA=") + schema};
    // The store reads every section of the alias's name together: the
    // server keys go into the first, and leave every other.
    bool hasPath = false;
    bool inAlias = false;
    for (const QString& line : lines) {
        const QString section = sectionOf(line);
        if (!section.isEmpty())
            inAlias = section.compare(alias, Qt::CaseInsensitive) == 0;
        else if (inAlias && keyOf(line) == QLatin1String("PATH"))
            hasPath = true;
    }
    if (!hasPath)
        serverLines << QStringLiteral("PATH=") + dataDir;

    QStringList out;
    bool found = false;
    inAlias = false;
    for (const QString& line : lines) {
        const QString section = sectionOf(line);
        if (!section.isEmpty()) {
            out << line;
            inAlias = section.compare(alias, Qt::CaseInsensitive) == 0;
            if (inAlias && !found) {
                found = true;
                out << serverLines;
            }
            continue;
        }
        const QString key = keyOf(line);
        if (inAlias && (key == QLatin1String("ENGINE") || key == QLatin1String("CONNECTION") || key == QLatin1String("SCHEMA")))
            continue;
        out << line;
    }
    if (!found)
        out << QStringLiteral("[%1]").arg(alias) << serverLines;
    writeLines(configPath, out);
}

} // namespace topg
