#include "tools/demo/SqlFill.h"

#include "store/Schema.h"
#include "store/StoreError.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QTime>

#include <sqlite3.h>

namespace demo {

namespace {

QString quoted(const QString& identifier)
{
    QString result = identifier;
    result.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + result + QLatin1Char('"');
}

} // namespace

FillConnection::FillConnection(const QString& path, const QString& tableName) : m_tableName(tableName)
{
    // Never creates the file: createTableFile made it with its layout.
    if (sqlite3_open_v2(QDir::toNativeSeparators(path).toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE,
                        nullptr) != SQLITE_OK) {
        const QString message = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : "out of memory");
        sqlite3_close(m_db);
        m_db = nullptr;
        throw store::StoreError(QStringLiteral("Could not fill table %1: %2").arg(tableName, message));
    }
    // A new installation has nothing to lose (a failed one is removed), so
    // the fill writes the table file directly, without log or syncs; the
    // file goes back to WAL mode when the rows are in.
    exec("PRAGMA journal_mode=OFF");
    exec("PRAGMA synchronous=OFF");
    exec("BEGIN IMMEDIATE");
    m_open = true;
}

FillConnection::~FillConnection()
{
    if (m_open)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(m_db);
}

void FillConnection::exec(const char* sql)
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(QString::fromLatin1(sql));
}

void FillConnection::commit()
{
    exec("COMMIT");
    m_open = false;
    exec("PRAGMA journal_mode=WAL");
}

void FillConnection::fail(const QString& doing) const
{
    throw store::StoreError(QStringLiteral("Could not fill table %1 (%2): %3")
                                .arg(m_tableName, doing, QString::fromUtf8(sqlite3_errmsg(m_db))));
}

RowWriter::RowWriter(FillConnection& connection, const QStringList& columns)
    : m_connection(connection), m_columnCount(int(columns.size()))
{
    QStringList names;
    QStringList marks;
    for (const QString& column : columns) {
        names << quoted(column);
        marks << QStringLiteral("?");
    }
    const QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                            .arg(quoted(store::sqlTableName(connection.tableName())), names.join(QLatin1Char(',')),
                                 marks.join(QLatin1Char(',')));
    if (sqlite3_prepare_v2(connection.handle(), sql.toUtf8().constData(), -1, &m_stmt, nullptr) != SQLITE_OK)
        connection.fail(QStringLiteral("preparing the insert"));
}

RowWriter::~RowWriter()
{
    sqlite3_finalize(m_stmt);
}

RowWriter& RowWriter::text(int column, const QByteArray& utf8)
{
    // An empty text stays an empty text, never NULL.
    const char* data = utf8.isNull() ? "" : utf8.constData();
    if (sqlite3_bind_text(m_stmt, column + 1, data, int(utf8.size()), SQLITE_TRANSIENT) != SQLITE_OK)
        m_connection.fail(QStringLiteral("binding a value"));
    return *this;
}

RowWriter& RowWriter::integer(int column, qint64 value)
{
    if (sqlite3_bind_int64(m_stmt, column + 1, value) != SQLITE_OK)
        m_connection.fail(QStringLiteral("binding a value"));
    return *this;
}

RowWriter& RowWriter::null(int column)
{
    if (sqlite3_bind_null(m_stmt, column + 1) != SQLITE_OK)
        m_connection.fail(QStringLiteral("binding a value"));
    return *this;
}

RowWriter& RowWriter::value(int column, const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        return null(column);
    case QMetaType::Bool:
        return boolean(column, value.toBool());
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return integer(column, value.toLongLong());
    case QMetaType::QByteArray:
        return text(column, value.toByteArray());
    default:
        return text(column, value.toString());
    }
}

void RowWriter::row()
{
    if (sqlite3_step(m_stmt) != SQLITE_DONE)
        m_connection.fail(QStringLiteral("writing row %1").arg(m_rows + 1));
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
    ++m_rows;
}

QByteArray dateText(const QDate& date)
{
    return date.toString(QStringLiteral("yyyy-MM-dd")).toLatin1();
}

QByteArray timeText(const QTime& time)
{
    return time.toString(QStringLiteral("HH:mm:ss.zzz")).toLatin1();
}

QByteArray dateTimeText(const QDateTime& dateTime)
{
    return dateTime.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1();
}

} // namespace demo
