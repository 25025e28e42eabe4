#include "store/TableCopy.h"

#include "store/Connection.h"
#include "store/Schema.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/sqlite/SqliteConnection.h"

#include <QDir>
#include <QFileInfo>

#include <sqlite3.h>

#include <algorithm>

namespace store {

namespace {

// A read-only connection to the copy, closed on every path.
class CopyFile {
public:
    CopyFile(const QString& path, const QString& tableName) : m_path(path), m_table(tableName)
    {
        if (!QFileInfo(path).isFile())
            fail(QStringLiteral("the file is missing"));
        if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
            fail(QStringLiteral("the file cannot be opened"));
        sqlite3_busy_timeout(m_db, Session::instance().busyTimeout());
    }
    ~CopyFile() { sqlite3_close_v2(m_db); }
    CopyFile(const CopyFile&) = delete;
    CopyFile& operator=(const CopyFile&) = delete;

    [[noreturn]] void fail(const QString& what) const
    {
        QString message = QStringLiteral("Table %1: the copy at %2 cannot be read: %3")
                              .arg(m_table, QDir::toNativeSeparators(m_path), what);
        if (m_db && sqlite3_errcode(m_db) != SQLITE_OK)
            message += QStringLiteral(" (%1)").arg(QString::fromUtf8(sqlite3_errmsg(m_db)));
        throw StoreError(message + QLatin1Char('.'));
    }

    // Runs sql and hands each result row to visit.
    template <typename Visit>
    void query(const QString& sql, const QString& doing, Visit&& visit, const QString& bound = QString())
    {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &raw, nullptr) != SQLITE_OK)
            fail(doing);
        const SqliteStatement reader(raw, m_table); // finalizes the statement
        const QByteArray value = bound.toUtf8();
        if (!bound.isNull())
            sqlite3_bind_text(raw, 1, value.constData(), int(value.size()), SQLITE_TRANSIENT);
        int rc;
        while ((rc = sqlite3_step(raw)) == SQLITE_ROW)
            visit(reader);
        if (rc != SQLITE_DONE)
            fail(doing);
    }

    sqlite3* db() const { return m_db; }

private:
    QString m_path;
    QString m_table;
    sqlite3* m_db = nullptr;
};

} // namespace

int TableCopy::indexOf(const QString& name) const
{
    for (int i = 0; i < columns.size(); ++i)
        if (columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

TableCopy readTableCopy(const QString& path, const QString& tableName)
{
    CopyFile file(path, tableName);
    TableCopy copy;
    // One read transaction: layout, password and rows are one state.
    file.query(QStringLiteral("BEGIN"), QStringLiteral("it cannot be read"), [](const SqliteStatement&) {});

    // A damaged file often still reads part-way; its check tells.
    QString check;
    file.query(QStringLiteral("PRAGMA quick_check"), QStringLiteral("it is no table file"),
               [&](const SqliteStatement& row) { check = row.column(0).toString(); });
    if (check != QLatin1String("ok"))
        file.fail(QStringLiteral("it is damaged (%1)").arg(check));

    QString sqlName;
    const QString wanted = sqlTableName(tableName);
    file.query(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND lower(name) = lower(?)"),
               QStringLiteral("it is no table file"),
               [&](const SqliteStatement& row) { sqlName = row.column(0).toString(); }, wanted);
    if (sqlName.isEmpty())
        file.fail(QStringLiteral("it holds no table %1").arg(wanted));

    bool hasMeta = false;
    file.query(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'brisel_meta'"),
               QStringLiteral("it is no table file"), [&](const SqliteStatement&) { hasMeta = true; });
    if (hasMeta) {
        QString salt;
        QString hash;
        file.query(QStringLiteral("SELECT key, value FROM brisel_meta WHERE key IN ('password_salt','password_hash')"),
                   QStringLiteral("its password cannot be read"), [&](const SqliteStatement& row) {
                       (row.column(0).toString() == QLatin1String("password_salt") ? salt : hash) =
                           row.column(1).toString();
                   });
        const QStringList passwords = Session::instance().passwords();
        if (!hash.isEmpty() && std::none_of(passwords.begin(), passwords.end(), [&](const QString& pw) {
                return passwordHash(salt, pw) == hash;
            }))
            file.fail(QStringLiteral("it is protected by a password, and no registered password opens it"));
    }

    QVector<QPair<int, QString>> keyOrder;
    file.query(QStringLiteral("PRAGMA table_info(%1)").arg(quoteIdentifier(sqlName)),
               QStringLiteral("its layout cannot be read"), [&](const SqliteStatement& row) {
                   TableCopy::Column column;
                   column.name = row.column(1).toString();
                   column.type = fieldTypeOf(row.column(2).toString(), &column.size);
                   copy.columns.append(column);
                   if (const int position = int(row.columnInt(5)); position > 0)
                       keyOrder.append({position, column.name});
               });
    std::sort(keyOrder.begin(), keyOrder.end());
    for (const auto& key : keyOrder)
        copy.primaryKey << key.second;

    QStringList names;
    for (const TableCopy::Column& c : copy.columns)
        names << quoteIdentifier(c.name);
    if (names.isEmpty())
        file.fail(QStringLiteral("its table has no fields"));
    file.query(QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid").arg(names.join(QLatin1Char(',')), quoteIdentifier(sqlName)),
               QStringLiteral("its rows cannot be read"), [&](const SqliteStatement& row) {
                   QVector<QVariant> values(copy.columns.size());
                   for (int i = 0; i < values.size(); ++i)
                       values[i] = row.column(i);
                   copy.rows.append(std::move(values));
               });
    return copy;
}

} // namespace store
