#pragma once

#include "store/Field.h"
#include "store/RawText.h"

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

    // Writes run between beginWrite and endWrite (see WriteGuard). Inside a
    // WriteBatch they join the batch's transaction on this file; otherwise
    // they get a transaction of their own, so that a post can check the row
    // and write it as one step.
    void beginWrite();
    void endWrite();
    void abortWrite(); // an error left the write: roll back an unbatched one
    // Reads join a batch too (a read transaction, turned into a write
    // transaction at the first write), so a batch of lookups pays for its
    // locks once instead of once per statement.
    void beginRead(bool mayCommit = true);
    void endRead();
    void commitBatch();
    bool inBatch() const { return m_inBatch; }
    // While this program holds a batch's write transaction on the file, no
    // other program can change it; each transaction has its own serial.
    bool inWriteTransaction() const { return m_inBatch && m_batchWrites; }
    quint64 transactionSerial() const { return m_txnSerial; }

    // A batch commits every file it holds within about this long of its
    // first uncommitted read or write, whatever else it does meanwhile.
    static constexpr int kBatchWindowMs = 100;
    // Commits the batch transactions older than the window (all when force).
    static void commitStale(bool force = false);
    static bool batchAlive();
    static void enterBatch();
    static void leaveBatch();

    // The file's change counter as this connection sees it: it moves when
    // another connection commits to the file. Together with localWrites it
    // tells whether a row read earlier can still be current.
    qint64 dataVersion();
    quint64 localWrites() const { return m_localWrites; }
    void countLocalWrite() { ++m_localWrites; }

    // Journal rows written to this file's outbox inside the batch's
    // transaction; moved to merge.db once the transaction has committed.
    bool outboxPending = false;
    bool outboxReady = false; // brisel_outbox exists in this file
    bool outboxAttached = false; // merge.db attached as brisel_journal
    std::shared_ptr<Connection> outboxJournal; // merge.db beside this file
    QString outboxFields;                      // the field list of the last outbox row
    QString outboxInsert;                      // and its insert statement
    // A journal row was written ahead of its change (a BeforePost or
    // BeforeDelete hook): the transaction is not committed until the change
    // has joined it.
    bool pinned = false;
    // A change just posted: its journal row usually follows at once, so the
    // transaction waits for it too. Either pin lasts at most a few windows.
    void pin()
    {
        pinned = true;
        m_pinAge.start();
    }
    bool holdsPair() const { return pinned && m_pinAge.elapsed() < 3 * kBatchWindowMs; }
    // Joins the batch's write transaction on this file as it stands, without
    // committing it first: the journal row of a change just posted must land
    // in the change's own transaction.
    void joinWrite();
    const QString& path() const { return m_path; }

    [[noreturn]] void raise(int rc, const QString& doing) const;

    std::optional<Queries> unfilteredQueries;

private:
    Connection() = default;
    void openFile(const QString& path);
    void readSchema();
    void setLock(short type);
    void reopenLockFile();
    void joinBatch(bool write); // begins this file's batch transaction

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
    bool m_ownTransaction = false; // an unbatched write's BEGIN
    QElapsedTimer m_batchAge;
    QElapsedTimer m_pinAge;
    quint64 m_localWrites = 0;
    quint64 m_txnSerial = 0;
    qint64 m_version = -1;        // the file's change counter, as last asked
    quint64 m_versionSerial = 0;  // the batch transaction it holds for (0: none)
};

// Brackets one write: begins it, and rolls an unbatched write back when an
// error leaves before commit().
class WriteGuard {
public:
    explicit WriteGuard(Connection& conn) : m_conn(conn) { conn.beginWrite(); }
    ~WriteGuard()
    {
        if (!m_done)
            m_conn.abortWrite();
    }
    void commit()
    {
        m_done = true;
        m_conn.endWrite();
    }
    WriteGuard(const WriteGuard&) = delete;
    WriteGuard& operator=(const WriteGuard&) = delete;

private:
    Connection& m_conn;
    bool m_done = false;
};

} // namespace store

