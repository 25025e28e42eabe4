#pragma once

#include "store/Field.h"
#include "store/RawText.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <memory>
#include <optional>

namespace store {

struct Row;

struct ColumnInfo {
    QString name;
    QString declaredType;
    FieldType type = FieldType::Unknown;
    int size = 0;
};

FieldType fieldTypeOf(const QString& declaredType, int* size);
QString quoteIdentifier(const QString& name);

// The query texts of a table object. Without a filter they are the same for
// every object on a table, and the connection keeps one copy. Parameters are
// written "?" whatever the engine.
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
    QString rowIdForWrite; // the row read again inside a write, held until it commits
    QString insert;
    QString remove;
};

// What an engine runs for a Statement.
class StatementImpl {
public:
    virtual ~StatementImpl() = default;
    virtual void reset() = 0;
    virtual void bind(int index, const QVariant& value) = 0; // index from 1
    virtual bool step() = 0;                                  // true while a row is ready
    virtual QVariant column(int index) const = 0;             // from 0, in the stored form
    virtual qint64 columnInt(int index) const = 0;
    // The current result row as a window row: column 0 is the rowid, the
    // others are packed.
    virtual void readRow(Row& row) const = 0;
    virtual int columnCount() const = 0;
};

// How a table's journal rows were last written: the fields as the caller
// named them, their columns in the journal table, and the insert statement.
// Kept so that a run of rows with the same fields looks them up only once.
struct JournalShape {
    const void* journal = nullptr; // the journal connection the columns belong to
    QStringList names;
    QVector<int> columns;
    QString insert;
};

// A prepared statement borrowed from a connection's cache; reset on release.
class Statement {
public:
    explicit Statement(StatementImpl* impl) : m_impl(impl) {}
    ~Statement() { m_impl->reset(); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(int index, const QVariant& value) { m_impl->bind(index, value); }
    bool step() { return m_impl->step(); }
    void run()
    {
        while (step()) {
        }
    }
    void reset() { m_impl->reset(); }
    QVariant column(int index) const { return m_impl->column(index); }
    qint64 columnInt(int index) const { return m_impl->columnInt(index); }
    void readRow(Row& row) const { m_impl->readRow(row); }
    int columnCount() const { return m_impl->columnCount(); }

private:
    StatementImpl* m_impl;
};

// This process's connection to one table, shared by every table object open
// on it, together with the table's open-lock. An engine provides it: SQLite
// (one file per table) or a PostgreSQL server (one table of the alias's
// schema); the cursor logic above never knows which.
class Connection {
public:
    // The pooled connection for a table of an alias; opens and checks it if
    // needed. The alias's configuration chooses the engine.
    static std::shared_ptr<Connection> acquire(const QString& alias, const QString& tableName);
    static void closeIdle();
    virtual ~Connection();

    const QString& label() const { return m_label; }
    const QString& sqlName() const { return m_sqlName; }
    const QVector<ColumnInfo>& columns() const { return m_columns; }
    const QVector<int>& keyColumns() const { return m_keyColumns; }
    int columnIndex(const QString& name) const; // case ignored, -1 if none
    // The table as named in queries (schema-qualified on a server).
    virtual QString qualifiedName() const;
    virtual bool onServer() const { return false; }

    virtual Statement statement(const QString& sql) = 0;
    virtual void exec(const QString& sql) = 0;
    // Runs an INSERT (from Queries::insert) and returns the new row's rowid.
    virtual qint64 insertRow(const QString& sql, const QVector<QVariant>& values) = 0;

    virtual void checkPassword() = 0;
    virtual void lock(bool exclusive) = 0;
    virtual void unlock(bool exclusive) = 0;

    // Writes run inside change units (see ChangeUnit). Units nest; each is a
    // savepoint, so a failed unit takes back its own writes and journal rows
    // and nothing else. Inside a WriteBatch the outermost unit joins the
    // batch's write transaction; otherwise it is a transaction of its own,
    // committed when the unit is. A connection in a unit is never committed
    // by the batch window.
    virtual void beginUnit() = 0;
    virtual void releaseUnit() = 0;       // keeps the unit's writes
    virtual void rollbackUnit() noexcept = 0; // takes them back; runs while errors unwind
    virtual int unitDepth() const = 0;
    // Reads join a batch too where the engine gains by it.
    virtual void beginRead(bool mayCommit = true) = 0;
    virtual void endRead() {}
    virtual void commitBatch() = 0;
    virtual bool inBatch() const = 0;
    // True while this program holds a batch's write transaction that keeps
    // every other program from changing the table; each transaction has its
    // own serial.
    virtual bool inWriteTransaction() const = 0;
    virtual quint64 transactionSerial() const = 0;

    // A batch commits every transaction it holds within about this long of
    // its first uncommitted read or write, whatever else it does meanwhile.
    static constexpr int kBatchWindowMs = 100;
    // Commits the batch transactions older than the window (all when force).
    static void commitStale(bool force = false);
    static bool batchAlive();
    static void enterBatch();
    static void leaveBatch();

    // The table's change counter as this connection sees it: it moves when
    // another connection may have changed the table. Together with
    // localWrites it tells whether a row read earlier can still be current.
    virtual qint64 dataVersion() = 0;
    quint64 localWrites() const { return m_localWrites; }
    void countLocalWrite() { ++m_localWrites; }

    // Work of a batch that was rolled back where no caller could be told (a
    // lost server connection, a transaction SQLite ended on its own): it is
    // raised at the next commit or at the batch's end, never passed over.
    static void noteLostWork(const QString& message);
    // Counts every rollback of written work, so that what was remembered
    // about rows written before it (the journal's repeat filter) can expire.
    static quint64 rollbacks();
    static void countRollback();

    std::optional<Queries> unfilteredQueries;

protected:
    Connection() = default;
    // Batch membership: commitStale commits the members whose transaction is
    // older than the window.
    void joinBatchList();
    void leaveBatchList();
    virtual qint64 batchAgeMs() const = 0;
    static void registerPooled(const QString& key, const std::shared_ptr<Connection>& conn);
    static std::shared_ptr<Connection> pooled(const QString& key);

    QString m_label;
    QString m_sqlName;
    QVector<ColumnInfo> m_columns;
    QVector<int> m_keyColumns;
    QHash<QString, int> m_columnByName;      // by the lowered name
    QHash<QString, int> m_columnByExactName; // by the name as the file spells it
    quint64 m_localWrites = 0;

    void addColumn(const ColumnInfo& column);
};

} // namespace store
