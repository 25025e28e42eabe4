#include "store/Schema.h"

#include "store/Connection.h"
#include "store/FileModes.h"
#include "store/Session.h"
#include "store/StoreError.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <sqlite3.h>

namespace store {

QString sqlTableName(const QString& tableName)
{
    QString name = QFileInfo(tableName.trimmed()).fileName().toLower();
    if (name.endsWith(QLatin1String(".db")))
        name.chop(3);
    return name;
}

QString passwordHash(const QString& salt, const QString& password)
{
    return QString::fromLatin1(
        QCryptographicHash::hash((salt + QLatin1Char(':') + password).toUtf8(), QCryptographicHash::Sha256).toHex());
}

namespace {

void execOrThrow(sqlite3* db, const QString& sql, const QString& table)
{
    char* error = nullptr;
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK) {
        const QString message = QString::fromUtf8(error ? error : "unknown error");
        sqlite3_free(error);
        throw StoreError(QStringLiteral("Table %1 could not be created: %2").arg(table, message));
    }
}

} // namespace

void createTableFile(const QString& dir, const TableDef& def, const QString& password)
{
    const QString path = QDir(dir).filePath(tableFileName(def.name));
    if (QFileInfo::exists(path))
        throw StoreError(QStringLiteral("Table %1 already exists in %2.").arg(def.name, QDir::toNativeSeparators(dir)));
    // Made with its final mode first; SQLite opens it as it is, and gives its
    // journal files the same mode.
    if (!createFile(path))
        throw StoreError(QStringLiteral("Table %1 could not be created: %2 cannot be made.")
                             .arg(def.name, QDir::toNativeSeparators(path)));
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        const QString message = QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        throw StoreError(QStringLiteral("Table %1 could not be created: %2").arg(def.name, message));
    }
    try {
        execOrThrow(db, QStringLiteral("PRAGMA journal_mode=WAL"), def.name);
        QStringList columns;
        for (const ColumnDef& c : def.columns) {
            QString column = quoteIdentifier(c.name) + QLatin1Char(' ') + c.declaredType;
            for (const QString& k : def.primaryKey)
                if (k.compare(c.name, Qt::CaseInsensitive) == 0)
                    column += QLatin1String(" NOT NULL");
            columns << column;
        }
        if (!def.primaryKey.isEmpty()) {
            QStringList keys;
            for (const QString& k : def.primaryKey)
                keys << quoteIdentifier(k);
            columns << QStringLiteral("PRIMARY KEY (%1)").arg(keys.join(QLatin1String(", ")));
        }
        execOrThrow(db, QStringLiteral("CREATE TABLE %1 (\n  %2\n)")
                            .arg(quoteIdentifier(sqlTableName(def.name)), columns.join(QLatin1String(",\n  "))),
                    def.name);
        if (!password.isEmpty()) {
            const QString salt = QString::number(QRandomGenerator::system()->generate64(), 16);
            execOrThrow(db, QStringLiteral("CREATE TABLE brisel_meta (key TEXT PRIMARY KEY, value TEXT)"), def.name);
            execOrThrow(db, QStringLiteral("INSERT INTO brisel_meta VALUES ('password_salt', '%1'), ('password_hash', '%2')")
                                .arg(salt, passwordHash(salt, password)),
                        def.name);
        }
    } catch (...) {
        sqlite3_close(db);
        QFile::remove(path);
        throw;
    }
    sqlite3_close(db);
}

} // namespace store
