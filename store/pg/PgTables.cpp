#include "store/pg/PgTables.h"

#include "store/FileModes.h"
#include "store/StoreError.h"
#include "store/pg/PgConnection.h"
#include "store/pg/PgLink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <libpq-fe.h>
#include <sqlite3.h>

namespace store {

namespace pg {

namespace {

// "timestamp(3) without time zone" -> "timestamp(3)": the store reads the
// declared type's first word and size.
QString declaredFromServer(QString type)
{
    type.remove(QLatin1String(" without time zone"));
    type.remove(QLatin1String(" with time zone"));
    return type;
}

std::optional<std::pair<QString, QString>> findTable(PGconn* conn, const QString& schema, const QString& tableName,
                                                     const QString& label)
{
    const QString wanted = sqlTableName(tableName);
    const Result r = exec(conn,
                          QStringLiteral("SELECT c.oid::text, c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                                         "WHERE n.nspname = $1 AND c.relkind IN ('r', 'p') AND lower(c.relname) = lower($2) "
                                         "ORDER BY c.relname = $2 DESC LIMIT 1"),
                          {schema, wanted}, label);
    if (r.rows() == 0)
        return std::nullopt;
    return std::make_pair(r.text(0, 0), r.text(0, 1));
}

} // namespace

TableLayout describeTable(PGconn* conn, const QString& schema, const QString& tableName, const QString& label)
{
    const auto found = findTable(conn, schema, tableName, label);
    if (!found)
        throw StoreError(QStringLiteral("Table %1 does not exist: the schema %2 on the database server has no table %3.")
                             .arg(label, schema, sqlTableName(tableName)));
    TableLayout layout;
    layout.name = found->second;
    layout.def.name = tableName;
    const Result columns = exec(conn,
                                QStringLiteral("SELECT a.attname, format_type(a.atttypid, a.atttypmod), "
                                               "coalesce(col_description(a.attrelid, a.attnum), '') FROM pg_attribute a "
                                               "WHERE a.attrelid = $1::oid AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum"),
                                {found->first}, label);
    bool hasRowId = false;
    for (int i = 0; i < columns.rows(); ++i) {
        const QString name = columns.text(i, 0);
        if (name == QLatin1String("rowid")) {
            hasRowId = true;
            continue;
        }
        const QString comment = columns.text(i, 2).trimmed();
        layout.def.columns.append({name, comment.isEmpty() ? declaredFromServer(columns.text(i, 1)) : comment});
        layout.serverTypes << columns.text(i, 1);
    }
    if (!hasRowId)
        throw StoreError(QStringLiteral("Table %1 cannot be opened: the server's table %2.%3 has no rowid column "
                                        "(make the tables with brisel-topg or brisel-demo).")
                             .arg(label, schema, layout.name));
    const Result keys = exec(conn,
                             QStringLiteral("SELECT a.attname FROM pg_index i "
                                            "CROSS JOIN LATERAL unnest(i.indkey::int2[]) WITH ORDINALITY AS k(attnum, ord) "
                                            "JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = k.attnum "
                                            "WHERE i.indrelid = $1::oid AND i.indisprimary ORDER BY k.ord"),
                             {found->first}, label);
    for (int i = 0; i < keys.rows(); ++i)
        layout.def.primaryKey << keys.text(i, 0);
    return layout;
}

PasswordHash tablePassword(PGconn* conn, const QString& schema, const QString& sqlName, const QString& label)
{
    PasswordHash stored;
    const QString meta = quoteIdent(schema) + QLatin1String(".brisel_meta");
    // A schema made by other tools may have no meta table: nothing is
    // protected then.
    const Result exists = exec(conn, QStringLiteral("SELECT to_regclass($1) IS NOT NULL"), {meta}, label);
    if (exists.rows() == 0 || exists.text(0, 0) != QLatin1String("t"))
        return stored;
    const Result r = exec(conn, QStringLiteral("SELECT key, value FROM %1 WHERE tbl = $1 AND key IN ('password_salt', 'password_hash')")
                                    .arg(meta),
                          {sqlName}, label);
    for (int i = 0; i < r.rows(); ++i)
        (r.text(i, 0) == QLatin1String("password_salt") ? stored.salt : stored.hash) = r.text(i, 1);
    return stored;
}

} // namespace pg

// --- Backups -----------------------------------------------------------------

namespace {

// The SQLite copy being written; removed unless finished.
class BackupFile {
public:
    BackupFile(const QString& temp, const QString& tableName, const QString& destination)
        : m_temp(temp), m_table(tableName), m_destination(destination)
    {
    }
    ~BackupFile()
    {
        if (m_db)
            sqlite3_close_v2(m_db);
        if (!m_done)
            QFile::remove(m_temp);
    }
    bool open(unsigned mode)
    {
        QFile::remove(m_temp);
        createFile(m_temp, mode);
        return sqlite3_open_v2(m_temp.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
               == SQLITE_OK;
    }
    void exec(const QString& sql)
    {
        char* error = nullptr;
        if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK) {
            const QString message = QString::fromUtf8(error ? error : "unknown error");
            sqlite3_free(error);
            fail(message);
        }
    }
    [[noreturn]] void fail(const QString& why) const
    {
        throw StoreError(QStringLiteral("Table %1 could not be backed up to %2: %3.")
                             .arg(m_table, QDir::toNativeSeparators(m_destination), why));
    }
    sqlite3* db() const { return m_db; }
    void finish()
    {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        QFile::remove(m_destination);
        if (!QFile::rename(m_temp, m_destination))
            fail(QStringLiteral("the copy cannot be put in place"));
        m_done = true;
    }

private:
    QString m_temp;
    QString m_table;
    QString m_destination;
    sqlite3* m_db = nullptr;
    bool m_done = false;
};

void bindStored(sqlite3_stmt* stmt, int index, const QVariant& v)
{
    if (!v.isValid() || v.isNull()) {
        sqlite3_bind_null(stmt, index);
    } else if (v.typeId() == QMetaType::LongLong) {
        sqlite3_bind_int64(stmt, index, v.toLongLong());
    } else if (v.typeId() == QMetaType::Double) {
        sqlite3_bind_double(stmt, index, v.toDouble());
    } else if (v.typeId() == QMetaType::QByteArray) {
        const QByteArray bytes = v.toByteArray();
        sqlite3_bind_blob(stmt, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
    } else {
        const QByteArray text = v.toString().toUtf8();
        sqlite3_bind_text(stmt, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
    }
}

} // namespace

bool serverTableExists(const ServerAlias& server, const QString& tableName)
{
    pg::ConnPtr conn = pg::connect(server.connection);
    const pg::Result r = pg::exec(conn.get(),
                                  QStringLiteral("SELECT 1 FROM pg_tables WHERE schemaname = $1 AND lower(tablename) = lower($2)"),
                                  {server.schema, sqlTableName(tableName)}, tableName);
    return r.rows() > 0;
}

bool backupServerTable(const ServerAlias& server, const QString& tableName, const QString& destinationPath)
{
    // A copy that cannot start is skipped, as with table files.
    const QFileInfo destination(destinationPath);
    if (destination.exists() && !destination.isFile())
        return false;
    if (!QFileInfo(destination.absolutePath()).isWritable())
        return false;

    // A connection of its own, so that the snapshot is not mixed with the
    // program's batch transaction.
    pg::ConnPtr conn = pg::connect(server.connection);
    pg::execPlain(conn.get(), QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"), tableName);
    pg::TableLayout layout;
    try {
        layout = pg::describeTable(conn.get(), server.schema, tableName, tableName);
    } catch (const StoreError&) {
        return false; // no such table on the server
    }
    const pg::PasswordHash password = pg::tablePassword(conn.get(), server.schema, layout.name, tableName);

    BackupFile file(destinationPath + QLatin1String(".part"), tableName, destinationPath);
    if (!file.open(kFileMode))
        return false;
    QStringList columns;
    QStringList names;
    for (const ColumnDef& c : layout.def.columns) {
        QString column = quoteIdentifier(c.name) + QLatin1Char(' ') + c.declaredType;
        if (layout.def.primaryKey.contains(c.name))
            column += QLatin1String(" NOT NULL");
        columns << column;
        names << quoteIdentifier(c.name);
    }
    if (!layout.def.primaryKey.isEmpty()) {
        QStringList keys;
        for (const QString& k : layout.def.primaryKey)
            keys << quoteIdentifier(k);
        columns << QStringLiteral("PRIMARY KEY (%1)").arg(keys.join(QLatin1String(", ")));
    }
    file.exec(QStringLiteral("BEGIN"));
    file.exec(QStringLiteral("CREATE TABLE %1 (\n  %2\n)").arg(quoteIdentifier(layout.name), columns.join(QLatin1String(",\n  "))));
    if (!password.hash.isEmpty()) {
        file.exec(QStringLiteral("CREATE TABLE brisel_meta (key TEXT PRIMARY KEY, value TEXT)"));
        file.exec(QStringLiteral("INSERT INTO brisel_meta VALUES ('password_salt', '%1'), ('password_hash', '%2')")
                      .arg(password.salt, password.hash));
    }
    QStringList marks;
    for (int i = 0; i <= names.size(); ++i)
        marks << QStringLiteral("?");
    sqlite3_stmt* insert = nullptr;
    const QString insertSql = QStringLiteral("INSERT INTO %1 (rowid, %2) VALUES (%3)")
                                  .arg(quoteIdentifier(layout.name), names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
    if (sqlite3_prepare_v2(file.db(), insertSql.toUtf8().constData(), -1, &insert, nullptr) != SQLITE_OK)
        file.fail(QString::fromUtf8(sqlite3_errmsg(file.db())));
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guard(insert, sqlite3_finalize);

    // Rows come in pieces through a cursor, so a large table never sits in
    // memory whole.
    const QString select = QStringLiteral("DECLARE brisel_backup NO SCROLL CURSOR FOR SELECT rowid%1 FROM %2.%3 ORDER BY rowid")
                               .arg(names.isEmpty() ? QString() : QLatin1Char(',') + names.join(QLatin1Char(',')),
                                    pg::quoteIdent(server.schema), pg::quoteIdent(layout.name));
    pg::execPlain(conn.get(), select, tableName);
    for (;;) {
        const pg::Result chunk = pg::exec(conn.get(), QStringLiteral("FETCH 5000 FROM brisel_backup"), {}, tableName);
        if (chunk.rows() == 0)
            break;
        for (int row = 0; row < chunk.rows(); ++row) {
            for (int c = 0; c < chunk.columns(); ++c)
                bindStored(insert, c + 1, chunk.stored(row, c));
            if (sqlite3_step(insert) != SQLITE_DONE)
                file.fail(QString::fromUtf8(sqlite3_errmsg(file.db())));
            sqlite3_reset(insert);
        }
    }
    guard.reset();
    pg::execPlain(conn.get(), QStringLiteral("COMMIT"), tableName);
    file.exec(QStringLiteral("COMMIT"));
    file.finish();
    return true;
}

} // namespace store
