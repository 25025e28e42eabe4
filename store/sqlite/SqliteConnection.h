#pragma once

#include "store/Connection.h"

struct sqlite3;
struct sqlite3_stmt;

namespace store {

class SqliteStatement : public StatementImpl {
public:
    SqliteStatement(sqlite3_stmt* stmt, const QString& table) : m_stmt(stmt), m_table(table) {}
    ~SqliteStatement() override;
    void reset() override;
    void bind(int index, const QVariant& value) override;
    bool step() override;
    QVariant column(int index) const override;
    qint64 columnInt(int index) const override;
    void readRow(Row& row) const override;
    int columnCount() const override;

private:
    sqlite3_stmt* m_stmt;
    QString m_table;
};

// The SQLite engine: one file per table, with the open-lock on a lock file
// in the network control directory (fcntl locks, which belong to the
// process).
class SqliteConnection : public Connection {
public:
    static std::shared_ptr<SqliteConnection> acquire(const QString& path, const QString& tableName);
    ~SqliteConnection() override;

    sqlite3* db() const { return m_db; }
    const QString& path() const { return m_path; }

    Statement statement(const QString& sql) override;
    void exec(const QString& sql) override;
    qint64 insertRow(const QString& sql, const QVector<QVariant>& values) override;

    void checkPassword() override;
    void lock(bool exclusive) override;
    void unlock(bool exclusive) override;

    void beginUnit() override;
    void releaseUnit() override;
    void rollbackUnit() noexcept override;
    int unitDepth() const override { return m_unitDepth; }
    void beginRead(bool mayCommit = true) override;
    void commitBatch() override;
    bool inBatch() const override { return m_inBatch; }
    bool inWriteTransaction() const override { return (m_inBatch && m_batchWrites) || m_ownTransaction; }
    quint64 transactionSerial() const override { return m_txnSerial; }
    qint64 dataVersion() override;

    [[noreturn]] void raise(int rc, const QString& doing) const;

    // Held while this program moves the file's outbox rows to merge.db: an
    // fcntl lock of its own in the network control directory, so that two
    // programs never move the same rows. Waits up to waitMs for another
    // program's move to end.
    class MoverLock {
    public:
        MoverLock(const SqliteConnection& file, int waitMs);
        ~MoverLock();
        MoverLock(const MoverLock&) = delete;
        MoverLock& operator=(const MoverLock&) = delete;

    private:
        int m_fd = -1;
    };

    // Journal rows written to this file's outbox inside the batch's
    // transaction; moved to merge.db once the transaction has committed.
    bool outboxPending = false;
    bool outboxReady = false; // brisel_outbox exists in this file
    std::shared_ptr<SqliteConnection> outboxJournal; // merge.db beside this file
    JournalShape outboxShape;                        // of the last outbox row

protected:
    qint64 batchAgeMs() const override { return m_batchAge.elapsed(); }

private:
    SqliteConnection() = default;
    void openFile(const QString& path);
    void readSchema();
    void setLock(short type);
    void reopenLockFile();
    void joinBatch(bool write); // begins this file's batch transaction
    bool noticeLostTransaction();
    void commitOrRaise(const QString& doing);

    sqlite3* m_db = nullptr;
    QString m_path;
    QString m_fileName;
    QHash<QString, SqliteStatement*> m_statements;
    bool m_passwordOk = false;
    int m_lockFd = -1;
    QString m_lockPath;
    int m_shared = 0;
    int m_exclusive = 0;
    bool m_inBatch = false;
    bool m_batchWrites = false;
    bool m_ownTransaction = false; // an unbatched unit's BEGIN
    int m_unitDepth = 0;
    bool m_unitFailed = false; // a unit nested in the open one failed
    QElapsedTimer m_batchAge;
    quint64 m_txnSerial = 0;
    qint64 m_version = -1;        // the file's change counter, as last asked
    quint64 m_versionSerial = 0;  // the batch transaction it holds for (0: none)
};

// Copies a live table file into a complete, consistent file (SQLite's online
// backup); see backupTable.
bool backupTableFile(const QString& source, const QString& tableName, const QString& destinationPath);

} // namespace store
