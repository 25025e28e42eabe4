#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QString>
#include <QStringList>
#include <QVariant>

struct sqlite3;
struct sqlite3_stmt;

namespace demo {

// A freshly created table file opened straight through SQLite, so that the
// sample rows go in fast: one transaction, committed by commit(); anything
// not committed is rolled back when the object goes.
class FillConnection {
public:
    FillConnection(const QString& path, const QString& tableName);
    ~FillConnection();
    FillConnection(const FillConnection&) = delete;
    FillConnection& operator=(const FillConnection&) = delete;

    void commit();
    sqlite3* handle() const { return m_db; }
    const QString& tableName() const { return m_tableName; }
    [[noreturn]] void fail(const QString& doing) const;

private:
    void exec(const char* sql);
    sqlite3* m_db = nullptr;
    QString m_tableName;
    bool m_open = false; // a transaction is open
};

// One prepared INSERT naming the given columns; values are bound by their
// position in that list, then row() writes them and clears the bindings.
class RowWriter {
public:
    RowWriter(FillConnection& connection, const QStringList& columns);
    ~RowWriter();
    RowWriter(const RowWriter&) = delete;
    RowWriter& operator=(const RowWriter&) = delete;

    RowWriter& text(int column, const QByteArray& utf8);
    RowWriter& text(int column, const QString& value) { return text(column, value.toUtf8()); }
    RowWriter& integer(int column, qint64 value);
    RowWriter& boolean(int column, bool value) { return integer(column, value ? 1 : 0); }
    RowWriter& null(int column);
    // Text, integer, boolean or null as the variant holds.
    RowWriter& value(int column, const QVariant& value);
    void row();
    int rows() const { return m_rows; }

private:
    FillConnection& m_connection;
    sqlite3_stmt* m_stmt = nullptr;
    int m_columnCount;
    int m_rows = 0;
};

// The store's stored forms of dates and times.
QByteArray dateText(const QDate& date);
QByteArray timeText(const QTime& time);
QByteArray dateTimeText(const QDateTime& dateTime);

} // namespace demo
