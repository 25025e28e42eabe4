#pragma once

#include "store/Connection.h"
#include "store/Session.h"
#include "store/pg/PgLink.h"

#include <QElapsedTimer>
#include <vector>

namespace store {

class PgConnection;
class PgSession;

class PgStatement : public StatementImpl {
public:
    PgStatement(PgSession& session, const QString& name, int parameters);
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
    QString m_label;
    QVector<QByteArray> m_texts;
    QVector<bool> m_nulls;
    pg::Result m_result;
    QVector<pg::Kind> m_kinds;
    QVector<unsigned> m_types;
    bool m_executed = false;
    int m_row = -1;
    int m_rows = 0;
};

// One server connection, shared by every table of the aliases that use the
// same connection string. Its transaction is the batch transaction of all of
// them, so a change and its journal row (the schema's merge table) commit
// together; its session-level advisory locks are the open-locks.
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
    [[noreturn]] void fail(const QString& label, const PGresult* result);

    // Transactions.
    bool inTransaction() const { return m_inTransaction; }
    bool ownTransaction() const { return m_own; }
    void begin(bool own);
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
    int m_unitDepth = 0;          // change units open on the session's tables
    bool m_unitSavepoint = false; // the outermost one is a savepoint (else the transaction)
    bool m_unitFailed = false;    // a unit nested in it failed
    friend class PgConnection;
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

    // The schema's journal table, for journal rows written in the batch's
    // transaction.
    std::shared_ptr<PgConnection> journal;
    QString journalFields;
    QString journalInsert;

    void left() { leaveBatchList(); }

protected:
    qint64 batchAgeMs() const override;

private:
    PgConnection() = default;
    void readSchema(const QString& tableName);
    void takeLock(bool exclusive);

    std::shared_ptr<PgSession> m_session;
    QString m_schema;
    QString m_qualified;
    qint64 m_lockKey = 0;
    bool m_passwordOk = false;
    int m_shared = 0;
    int m_exclusive = 0;
    bool m_holdsShared = false;
    bool m_holdsExclusive = false;
};

// Writes a server table into a SQLite file at destinationPath, from one
// snapshot; see backupTable.
bool backupServerTable(const ServerAlias& server, const QString& tableName, const QString& destinationPath);

// True when the alias's schema on the server holds the table.
bool serverTableExists(const ServerAlias& server, const QString& tableName);

} // namespace store
