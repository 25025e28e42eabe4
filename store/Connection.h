#pragma once

#include "store/Field.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QVariant>
#include <QVector>
#include <memory>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace store {

struct ColumnInfo {
    QString name;
    QString declaredType;
    FieldType type = FieldType::Unknown;
    int size = 0;
};

FieldType fieldTypeOf(const QString& declaredType, int* size);
QString quoteIdentifier(const QString& name);

// The query texts of a table object. Without a filter they are the same for
// every object on a table, and the connection keeps one copy.
struct Queries {
    QString selectList; // rowid and every column
    QString keyList;    // rowid and the key columns
    QString from;
    QString orderBy;
    QString keyTuple;
    QString filter;     // "f1" = ? AND ... (empty without a filter)
    QString first, after, find;             // whole rows
    QString firstKeys, afterKeys, findKeys; // key columns only
    QString rowId;
    QString insert;
    QString remove;
};

// A prepared statement borrowed from a connection's cache; reset on release.
class Statement {
public:
    Statement(sqlite3_stmt* stmt, const QString& table) : m_stmt(stmt), m_table(table) {}
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(int index, const QVariant& value); // index from 1
    bool step();                                  // true while a row is ready
    void run();                                   // steps a statement that returns no rows
    QVariant column(int index) const;             // from 0
    qint64 columnInt(int index) const;
    sqlite3_stmt* handle() const { return m_stmt; }

private:
    sqlite3_stmt* m_stmt;
    QString m_table;
};

// This process's one connection to a table file, shared by every table
// object open on it, together with the open-lock in the network control
// directory.
class Connection {
public:
    // The pooled connection for a table file; opens and checks it if needed.
    static std::shared_ptr<Connection> acquire(const QString& path, const QString& tableName);
    static void closeIdle();
    ~Connection();

    const QString& label() const { return m_label; }
    const QString& sqlName() const { return m_sqlName; }
    const QVector<ColumnInfo>& columns() const { return m_columns; }
    const QVector<int>& keyColumns() const { return m_keyColumns; }
    int columnIndex(const QString& name) const; // case ignored, -1 if none
    sqlite3* db() const { return m_db; }

    Statement statement(const QString& sql);
    void exec(const QString& sql);

    void checkPassword();
    void lock(bool exclusive);
    void unlock(bool exclusive);

    // Every write runs between these: they join a WriteBatch when one is
    // alive, and commit a batch's transaction once it is older than 100 ms.
    void beginWrite();
    void endWrite();
    // Reads join a batch too (a read transaction, turned into a write
    // transaction at the first write), so a batch of lookups pays for its
    // locks once instead of once per statement.
    void beginRead();
    void endRead() { endWrite(); }
    void commitBatch();
    bool inBatch() const { return m_inBatch; }

    [[noreturn]] void raise(int rc, const QString& doing) const;

    std::optional<Queries> unfilteredQueries;

private:
    Connection() = default;
    void openFile(const QString& path);
    void readSchema();
    void setLock(short type);

    sqlite3* m_db = nullptr;
    QString m_path;
    QString m_fileName;
    QString m_label;
    QString m_sqlName;
    QVector<ColumnInfo> m_columns;
    QVector<int> m_keyColumns;
    QHash<QString, int> m_columnByName;
    QHash<QString, sqlite3_stmt*> m_statements;
    bool m_passwordOk = false;
    int m_lockFd = -1;
    QString m_lockPath;
    int m_shared = 0;
    int m_exclusive = 0;
    bool m_inBatch = false;
    bool m_batchWrites = false;
    QElapsedTimer m_batchAge;
};

} // namespace store
