#pragma once

#include "store/Connection.h"
#include "store/Session.h"
#include "store/pg/PgLink.h"

#include <QElapsedTimer>
#include <functional>
#include <vector>

namespace store {

class PgConnection;
class PgSession;

class PgStatement : public StatementImpl {
public:
    PgStatement(PgSession& session, const QString& name, const QString& text, int parameters);
    void reset() override;
    void bind(int index, const QVariant& value) override;
    bool step() override;
    QVariant column(int index) const override;
    qint64 columnInt(int index) const override;
    void readRow(Row& row) const override;
    int columnCount() const override;
    void setLabel(const QString& label) { m_label = label; }

private:
    PgSession& m_session;
    QString m_name;
    QByteArray m_nameUtf8;
    QByteArray m_text;          // with numbered parameters
    quint64 m_preparedOn = 0;   // the session's connection it was prepared on
    QString m_label;
    QVector<QByteArray> m_texts;
    QVector<bool> m_nulls;
    pg::Result m_result;
    QVector<pg::Kind> m_kinds;
    QVector<unsigned> m_types;
    bool m_executed = false;
    int m_row = -1;
    int m_rows = 0;
    friend class PgSession;
};

// One server connection, shared by every table of the aliases that use the
// same connection string. Its transaction is the batch transaction of all of
// them, so a change and its journal row (the schema's merge table) commit
// together; its session-level advisory locks are the open-locks.
//
// Every call waits for the server at most Session::serverTimeout(). A
// connection that was lost (or closed because the server did not answer) is
// made again by the next call when no transaction was pending on it, and the
// open tables' locks are taken again. When a batch's transaction was
// pending, its changes went with the connection: every call fails with that
// loss until a commit (or the batch's end) has reported it.
class PgSession {
public:
    static std::shared_ptr<PgSession> acquire(const QString& connection);
    ~PgSession();

    PGconn* conn() const { return m_conn.get(); }
    const QString& connectionString() const { return m_connection; }
    Statement statement(const QString& sql, const QString& label);
    // Runs a statement; on failure rolls back a transaction the error spoilt
    // and raises with a message that says what was undone.
    pg::Result run(const QString& sql, const QVariantList& params, const QString& label);
    // Runs an advisory lock function and tells whether it succeeded (false
    // also when a lock wait timed out); raises when the connection failed.
    bool runLock(const QString& sql, qint64 key, const QString& label);
    [[noreturn]] void fail(const QString& label, const PGresult* result);
    // Runs a statement without raising, for paths that unwind an error:
    // false, with the reason, when it failed.
    bool runQuietly(const char* sql, QString* why);

    // Makes sure the connection is up before a call (see above); raises
    // when it cannot be.
    void ensureConnected(const QString& label);
    // The connection is up as far as this program knows.
    bool connected() const;
    // The server process that serves this session (0 while disconnected).
    int backendPid() const;

    // Transactions.
    bool inTransaction() const { return m_inTransaction; }
    bool ownTransaction() const { return m_own; }
    void begin(bool own, const QString& label = QStringLiteral("(transaction)"));
    void commit();
    void rollback();
    quint64 serial() const { return m_serial; }
    qint64 ageMs() const { return m_age.elapsed(); }
    void addMember(PgConnection* member);
    void applyLockTimeout();

    qint64 nextVersion() { return ++m_version; }

private:
    PgSession() = default;
    void endTransaction();
    void execute(PgStatement& statement, const char* const* values);
    void prepare(PgStatement& statement, const QString& label);
    pg::Result exchange(const QString& label, const std::function<int(PGconn*)>& send);
    pg::Result exchangePipelined(const QString& label, const std::function<int(PGconn*)>& send);
    // A savepoint command of a change unit, sent ahead of the session's next
    // call in the same round trip; a savepoint released before any call
    // needs neither command.
    void defer(const char* command);
    // Takes back a savepoint not yet sent; false when it has gone out.
    bool dropDeferredSavepoint();
    template <typename Op>
    auto retrying(Op op) -> decltype(op());
    [[noreturn]] void lose(const QString& label, const QString& why, bool mayRetry);
    bool stillUp();
    void reconnect(const QString& label);
    QString changedTables(const QString& fallback) const;

    pg::ConnPtr m_conn;
    QString m_connection;
    QHash<QString, PgStatement*> m_statements;
    bool m_inTransaction = false;
    bool m_own = false;
    quint64 m_serial = 0;
    qint64 m_version = 0;
    int m_lockTimeout = -1;
    QElapsedTimer m_age;
    QVector<PgConnection*> m_members;
    int m_unitDepth = 0;               // change units open on the session's tables
    bool m_unitSavepoint = false;      // the outermost one is a savepoint (else the transaction)
    bool m_unitFailed = false;         // a unit nested in it failed
    QVector<PgConnection*> m_tables;   // every table on this session, for their locks
    quint64 m_generation = 0;          // counts the connections made
    bool m_reconnecting = false;
    QString m_lost;                    // a batch's changes lost with the connection, not yet reported
    QVector<const char*> m_deferred;   // savepoint commands waiting for the next call
    friend class PgConnection;
    friend class PgStatement;
};

// The PostgreSQL engine: one table of an alias's schema.
class PgConnection : public Connection {
public:
    static std::shared_ptr<PgConnection> acquire(const ServerAlias& server, const QString& tableName);
    ~PgConnection() override;

    QString qualifiedName() const override { return m_qualified; }
    bool onServer() const override { return true; }
    PgSession& session() const { return *m_session; }
    const QString& schema() const { return m_schema; }

    Statement statement(const QString& sql) override;
    void exec(const QString& sql) override;
    qint64 insertRow(const QString& sql, const QVector<QVariant>& values) override;

    void checkPassword() override;
    void lock(bool exclusive) override;
    void unlock(bool exclusive) override;

    void beginUnit() override;
    void releaseUnit() override;
    void rollbackUnit() noexcept override;
    int unitDepth() const override;
    void beginRead(bool mayCommit = true) override;
    void commitBatch() override;
    bool inBatch() const override;
    // A server transaction keeps nobody out of the table: rows read in it can
    // change, so it never vouches for them.
    bool inWriteTransaction() const override { return false; }
    quint64 transactionSerial() const override;
    qint64 dataVersion() override;
    // A shared lock on the table until the transaction ends (the journal
    // table, before its rows are written).
    void lockForWriting();
    quint64 m_writeLockSerial = 0;    // the transaction it was last taken in
    quint64 m_writeLockRollbacks = 0; // and the rollback count then

    // The schema's journal table, for journal rows written in the batch's
    // transaction.
    std::shared_ptr<PgConnection> journal;
    JournalShape journalShape;

    void left() { leaveBatchList(); }

protected:
    qint64 batchAgeMs() const override;

private:
    PgConnection() = default;
    void readSchema(const QString& tableName);
    void takeLock(bool exclusive);
    // The session, connected, for a call on this table; raises when the
    // table lost its open-lock.
    PgSession& live();
    // After a reconnect: takes the held open-locks again, or marks the
    // table lost when another program took it meanwhile.
    void retakeLocks();

    std::shared_ptr<PgSession> m_session;
    QString m_schema;
    QString m_qualified;
    qint64 m_lockKey = 0;
    bool m_passwordOk = false;
    int m_shared = 0;
    int m_exclusive = 0;
    bool m_holdsShared = false;
    bool m_holdsExclusive = false;
    QString m_lockLost; // why this program no longer holds the table open
    friend class PgSession;
};

// Writes a server table into a SQLite file at destinationPath, from one
// snapshot; see backupTable.
bool backupServerTable(const ServerAlias& server, const QString& tableName, const QString& destinationPath);

// True when the alias's schema on the server holds the table.
bool serverTableExists(const ServerAlias& server, const QString& tableName);

} // namespace store
