#include "tools/demo/Layout.h"

#include "store/Catalogue.h"
#include "store/FileModes.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "tools/demo/AlarmWave.h"
#include "tools/topg/Copy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace demo {

QString dataDirOf(const QString& root)
{
    return QDir::cleanPath(QDir(root).absoluteFilePath(QStringLiteral("data")));
}

QString netDirOf(const QString& root)
{
    return QDir::cleanPath(QDir(root).absoluteFilePath(QStringLiteral("netdir")));
}

QStringList installedFileNames()
{
    QStringList names;
    for (const store::TableDef& def : catalogue::tableDefs())
        names << store::tableFileName(def.name);
    names << kAlarmFileName;
    return names;
}

bool installationExists(const QString& root)
{
    const QDir data(dataDirOf(root));
    for (const QString& name : installedFileNames())
        if (QFileInfo::exists(data.filePath(name)))
            return true;
    return false;
}

void removeInstallation(const QString& root)
{
    const QDir data(dataDirOf(root));
    for (const QString& name : installedFileNames()) {
        for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm"),
                                      QStringLiteral("-journal")}) {
            const QString path = data.filePath(name + suffix);
            if (QFileInfo::exists(path) && !QFile::remove(path))
                throw store::StoreError(
                    QStringLiteral("Could not remove %1 of the old installation.").arg(QDir::toNativeSeparators(path)));
        }
    }
}

QString schemaName(const QString& schema)
{
    return schema.trimmed().isEmpty() ? catalogue::kAlias.toLower() : schema.trimmed();
}

bool serverInstallationExists(const QString& connection, const QString& schema)
{
    QStringList tables;
    for (const store::TableDef& def : catalogue::tableDefs())
        tables << store::sqlTableName(def.name);
    return !topg::existingTables(connection, schemaName(schema), tables).isEmpty();
}

namespace {

using IniLines = QList<QPair<QString, QString>>;

void writeIni(const QString& path, const QString& section, const IniLines& keys)
{
    QString text = QStringLiteral("[%1]\n").arg(section);
    for (const auto& [key, value] : keys) {
        if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')))
            throw store::StoreError(QStringLiteral("%1 cannot be written into %2.").arg(value, path));
        text += key + QLatin1Char('=') + value + QLatin1Char('\n');
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        throw store::StoreError(QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    file.write(text.toUtf8());
    if (!file.commit())
        throw store::StoreError(QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    store::setMode(path, store::kFileMode);
}

} // namespace

void writeNetDirIni(const QString& path, const QString& netDir)
{
    writeIni(path, QStringLiteral("Options"), {{QStringLiteral("NetDir"), netDir}});
}

void writeStoreConfig(const QString& path, const QString& dataDir)
{
    writeIni(path, catalogue::kAlias, {{QStringLiteral("PATH"), dataDir}});
}

void writeServerStoreConfig(const QString& path, const QString& dataDir, const QString& connection,
                            const QString& schema)
{
    writeIni(path, catalogue::kAlias,
             {{QStringLiteral("ENGINE"), QStringLiteral("postgresql")},
              {QStringLiteral("CONNECTION"), connection},
              {QStringLiteral("SCHEMA"), schemaName(schema)},
              {QStringLiteral("PATH"), dataDir}});
}

} // namespace demo
