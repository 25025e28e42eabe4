#include "store/pg/PgConnection.h"

#include "store/Row.h"
#include "store/Schema.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "store/pg/PgTables.h"

#include <QThread>
#include <QVarLengthArray>

#include <libpq-fe.h>
#include <poll.h>

namespace store {

namespace {

// Never destroyed: sessions still pooled at exit go after it.
QHash<QString, std::weak_ptr<PgSession>>& sessions()
{
    static auto* all = new QHash<QString, std::weak_ptr<PgSession>>;
    return *all;
}

// The store writes parameters as "?"; the server numbers them.
QString numberParameters(const QString& sql, int* count)
{
    QString out;
    out.reserve(sql.size() + 16);
    QChar quote;
    *count = 0;
    for (const QChar c : sql) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
        } else if (c == QLatin1Char('?')) {
            out += QLatin1Char('$') + QString::number(++*count);
            continue;
        }
        out += c;
    }
    return out;
}

// The connection went while no transaction was pending on it: nothing was
// lost, and the call may be made again on a new connection.
class LostConnection : public StoreError {
public:
    using StoreError::StoreError;
};

// Errors after which the session's connection is gone: the server ended it
// (shut down, backend terminated) or it broke.
bool connectionEnded(const QString& state)
{
    return state.startsWith(QLatin1String("57P")) || state.startsWith(QLatin1String("08"));
}

QString lostText(PGconn* conn, const PGresult* result)
{
    return QStringLiteral("the connection to the database server was lost (%1)").arg(pg::errorText(conn, result));
}

} // namespace

// --- PgStatement ---------------------------------------------------------------

PgStatement::PgStatement(PgSession& session, const QString& name, const QString& text, int parameters)
    : m_session(session), m_name(name), m_nameUtf8(name.toUtf8()), m_text(text.toUtf8()), m_texts(parameters),
      m_nulls(parameters, true)
{
}

void PgStatement::reset()
{
    m_result = pg::Result();
    m_executed = false;
    m_row = -1;
    m_rows = 0;
    m_nulls.fill(true);
}

void PgStatement::bind(int index, const QVariant& value)
{
    if (index < 1 || index > m_texts.size())
        throw StoreError(QStringLiteral("Table %1: parameter %2 is out of range.").arg(m_label).arg(index));
    bool null = false;
    m_texts[index - 1] = pg::parameterText(value, &null);
    m_nulls[index - 1] = null;
}

bool PgStatement::step()
{
    if (!m_executed) {
        QVarLengthArray<const char*, 64> values(m_texts.size());
        for (int i = 0; i < m_texts.size(); ++i)
            values[i] = m_nulls[i] ? nullptr : m_texts[i].constData();
        m_session.execute(*this, values.data());
        m_executed = true;
        m_rows = m_result.rows();
        m_row = -1;
        const int n = m_result.columns();
        m_types.resize(n);
        m_kinds.resize(n);
        for (int i = 0; i < n; ++i) {
            m_types[i] = PQftype(m_result.get(), i);
            m_kinds[i] = pg::kindOf(m_types[i]);
        }
    }
    return ++m_row < m_rows;
}

QVariant PgStatement::column(int index) const
{
    return m_result.stored(m_row, index);
}

qint64 PgStatement::columnInt(int index) const
{
    qint64 v = 0;
    if (!m_result.isNull(m_row, index))
        pg::parseInteger(m_types[index], PQgetvalue(m_result.get(), m_row, index), &v);
    return v;
}

int PgStatement::columnCount() const
{
    return m_result.columns();
}

void PgStatement::readRow(Row& row) const
{
    PGresult* r = m_result.get();
    row.rowId = columnInt(0);
    const int n = m_result.columns() - 1;
    // Times and date-times are rewritten to the stored form first, so that
    // the sizes are known before packing.
    QVarLengthArray<QByteArray, 8> converted;
    QVarLengthArray<int, 256> slot(n + 1);
    int payload = 0;
    for (int i = 1; i <= n; ++i) {
        slot[i] = -1;
        if (PQgetisnull(r, m_row, i)) {
            payload += 1;
            continue;
        }
        switch (m_kinds[i]) {
        case pg::Kind::Integer:
        case pg::Kind::Float: payload += 9; break;
        case pg::Kind::Blob: {
            QVariant blob = m_result.stored(m_row, i);
            slot[i] = int(converted.size());
            converted.append(blob.toByteArray());
            payload += 1 + int(converted.back().size());
            break;
        }
        default:
            if (pg::needsRewrite(m_types[i])) {
                slot[i] = int(converted.size());
                converted.append(pg::storedText(m_types[i], PQgetvalue(r, m_row, i), PQgetlength(r, m_row, i)));
                payload += 1 + int(converted.back().size());
            } else {
                payload += 1 + PQgetlength(r, m_row, i);
            }
            break;
        }
    }
    RowPacker pack(row, n, payload);
    for (int i = 1; i <= n; ++i) {
        if (PQgetisnull(r, m_row, i)) {
            pack.addNull();
            continue;
        }
        const char* value = PQgetvalue(r, m_row, i);
        switch (m_kinds[i]) {
        case pg::Kind::Integer: {
            qint64 v = 0;
            pg::parseInteger(m_types[i], value, &v);
            pack.addInt(v);
            break;
        }
        case pg::Kind::Float: pack.addFloat(std::strtod(value, nullptr)); break;
        case pg::Kind::Blob: pack.addBlob(converted[slot[i]].constData(), int(converted[slot[i]].size())); break;
        default:
            if (slot[i] >= 0)
                pack.addText(converted[slot[i]].constData(), int(converted[slot[i]].size()));
            else
                pack.addText(value, PQgetlength(r, m_row, i));
            break;
        }
    }
    pack.finish();
}

// --- PgSession -----------------------------------------------------------------

std::shared_ptr<PgSession> PgSession::acquire(const QString& connection)
{
    if (auto found = sessions().value(connection).lock())
        return found;
    std::shared_ptr<PgSession> session(new PgSession);
    session->m_connection = connection;
    session->reconnect(QString());
    sessions().insert(connection, session);
    return session;
}

PgSession::~PgSession()
{
    // Never silent, even when the last table went before the batch's end.
    if (!m_lost.isEmpty())
        reportBatchError(m_lost);
    qDeleteAll(m_statements);
    sessions().remove(m_connection);
}

bool PgSession::connected() const
{
    return m_conn && PQstatus(m_conn.get()) == CONNECTION_OK;
}

int PgSession::backendPid() const
{
    return connected() ? PQbackendPID(m_conn.get()) : 0;
}

// A server that ended the session (it shut down, or the backend was
// terminated) has sent its reason and closed the socket: read that now, so
// that the call finds the connection lost before it is sent, not after.
bool PgSession::stillUp()
{
    if (!connected())
        return false;
    for (int i = 0; i < 8; ++i) {
        pollfd p{PQsocket(conn()), POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0 || !PQconsumeInput(conn()))
            break;
        PQisBusy(conn()); // takes in what came (notices, the reason)
    }
    return connected();
}

void PgSession::ensureConnected(const QString& label)
{
    if (stillUp())
        return;
    if (m_inTransaction) {
        if (!m_lost.isEmpty())
            throw StoreError(m_lost);
        lose(label, lostText(conn(), nullptr), false);
    }
    if (m_reconnecting)
        lose(label, lostText(conn(), nullptr), false);
    reconnect(label);
}

// Makes the connection (again), sets it up, and takes the open tables'
// locks again. Statements are prepared again on their next use.
void PgSession::reconnect(const QString& label)
{
    m_conn.reset();
    m_reconnecting = true;
    struct Done {
        PgSession& s;
        bool ok = false;
        ~Done()
        {
            s.m_reconnecting = false;
            if (!ok)
                s.m_conn.reset(); // half set up: the next call starts afresh
        }
    } done{*this};
    try {
        m_conn = pg::connect(m_connection);
    } catch (const StoreError& e) {
        if (label.isEmpty())
            throw;
        QString why = e.message();
        why[0] = why[0].toLower();
        throw StoreError(QStringLiteral("Table %1: %2").arg(label, why));
    }
    ++m_generation;
    // Calls wait on the socket with a deadline; sending must not block either.
    PQsetnonblocking(conn(), 1);
    m_lockTimeout = -1;
    applyLockTimeout();
    // Every execution is planned with its values: a plan the server cached
    // while a table was nearly empty would scan it whole once it has grown
    // (the clean-up fills empty tables), which costs far more than planning.
    run(QStringLiteral("SET plan_cache_mode = force_custom_plan"), {}, label);
    for (PgConnection* table : std::as_const(m_tables))
        table->retakeLocks();
    done.ok = true;
}

// The connection is gone (or closed here because the server did not
// answer). A batch transaction that was pending is lost with it: the loss
// stays until a commit reports it. An own write's transaction ends, and its
// caller gets the error.
void PgSession::lose(const QString& label, const QString& why, bool mayRetry)
{
    QString message = QStringLiteral("Table %1: %2.").arg(label, why);
    const bool idle = !m_inTransaction;
    if (m_inTransaction && !m_own) {
        if (m_lost.isEmpty())
            m_lost = QStringLiteral("Table %1: the changes of the last moments of this work were not saved: %2.")
                         .arg(changedTables(label), why);
        message += QStringLiteral("  The changes of the last moments of this work were not saved.");
    } else if (m_inTransaction) {
        endTransaction();
    }
    m_conn.reset();
    m_deferred.clear();
    if (mayRetry && idle && !m_reconnecting)
        throw LostConnection(message);
    throw StoreError(message);
}

QString PgSession::changedTables(const QString& fallback) const
{
    QStringList names;
    for (const PgConnection* m : m_members)
        if (!names.contains(m->label()))
            names << m->label();
    return names.isEmpty() ? fallback : names.join(QLatin1String(", "));
}

// Sends a call and waits for its answer within the bound. The result may be
// an error for the caller to judge; a lost or silent connection raises.
pg::Result PgSession::exchange(const QString& label, const std::function<int(PGconn*)>& send)
{
    ensureConnected(label);
    if (!m_deferred.isEmpty())
        return exchangePipelined(label, send);
    PGconn* c = conn();
    const int timeout = Session::instance().serverTimeout();
    bool noAnswer = false;
    pg::Result r = send(c) ? pg::awaitResult(c, timeout, &noAnswer) : pg::Result();
    if (noAnswer)
        lose(label, pg::noAnswerText(timeout), false);
    if (!connected() || connectionEnded(pg::sqlState(r.get())))
        lose(label, lostText(c, r.get()), true);
    return r;
}

namespace {
const char kSavepoint[] = "SAVEPOINT brisel_unit";
const char kRelease[] = "RELEASE SAVEPOINT brisel_unit";
} // namespace

void PgSession::defer(const char* command)
{
    if (command == kRelease && !m_deferred.isEmpty() && m_deferred.last() == kSavepoint)
        m_deferred.removeLast();
    else
        m_deferred.append(command);
}

bool PgSession::dropDeferredSavepoint()
{
    if (m_deferred.isEmpty() || m_deferred.last() != kSavepoint)
        return false;
    m_deferred.removeLast();
    return true;
}

// The deferred savepoint commands and the call go out together in pipeline
// mode and are answered in one round trip. A failed command aborts the rest
// (the server skips them), and its error is the call's.
pg::Result PgSession::exchangePipelined(const QString& label, const std::function<int(PGconn*)>& send)
{
    PGconn* c = conn();
    const QVector<const char*> commands = std::exchange(m_deferred, {});
    bool sent = PQenterPipelineMode(c) == 1;
    for (const char* command : commands)
        sent = sent && PQsendQueryParams(c, command, 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
    sent = sent && send(c) == 1 && PQpipelineSync(c) == 1;
    const int timeout = Session::instance().serverTimeout();
    bool noAnswer = false;
    pg::Result r = sent ? pg::awaitPipeline(c, timeout, &noAnswer) : pg::Result();
    if (noAnswer)
        lose(label, pg::noAnswerText(timeout), false);
    if (!PQexitPipelineMode(c) || !connected() || connectionEnded(pg::sqlState(r.get())))
        lose(label, lostText(c, r.get()), false); // in a transaction: never retried
    return r;
}

// Outside a transaction nothing is lost with a connection: a call that met
// a dropped one is made once more, on a new connection.
template <typename Op>
auto PgSession::retrying(Op op) -> decltype(op())
{
    if (m_inTransaction || m_reconnecting)
        return op();
    try {
        return op();
    } catch (const LostConnection&) {
    }
    return op();
}

void PgSession::prepare(PgStatement& statement, const QString& label)
{
    ensureConnected(label);
    if (statement.m_preparedOn == m_generation)
        return;
    const pg::Result r = exchange(label, [&](PGconn* c) {
        return PQsendPrepare(c, statement.m_nameUtf8.constData(), statement.m_text.constData(),
                             int(statement.m_texts.size()), nullptr);
    });
    if (PQresultStatus(r.get()) != PGRES_COMMAND_OK)
        fail(label, r.get());
    statement.m_preparedOn = m_generation;
}

void PgSession::execute(PgStatement& statement, const char* const* values)
{
    statement.m_result = retrying([&] {
        prepare(statement, statement.m_label);
        pg::Result r = exchange(statement.m_label, [&](PGconn* c) {
            return PQsendQueryPrepared(c, statement.m_nameUtf8.constData(), int(statement.m_texts.size()), values,
                                       nullptr, nullptr, 0);
        });
        const ExecStatusType status = PQresultStatus(r.get());
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
            fail(statement.m_label, r.get());
        return r;
    });
}

// A write that stays blocked by another workstation fails like a busy SQLite
// file after the session's busy timeout, instead of waiting for ever (the
// server reads 0 as "no limit", so the shortest wait is 1 ms).
void PgSession::applyLockTimeout()
{
    const int ms = qMax(1, Session::instance().busyTimeout());
    if (ms == m_lockTimeout)
        return;
    run(QStringLiteral("SET lock_timeout = %1").arg(ms), {}, QStringLiteral("(settings)"));
    m_lockTimeout = ms;
}

Statement PgSession::statement(const QString& sql, const QString& label)
{
    PgStatement* cached = m_statements.value(sql, nullptr);
    if (!cached) {
        int count = 0;
        const QString text = numberParameters(sql, &count);
        const QString name = QStringLiteral("brisel_%1").arg(m_statements.size() + 1);
        auto made = std::make_unique<PgStatement>(*this, name, text, count);
        retrying([&] { prepare(*made, label); });
        cached = made.release();
        m_statements.insert(sql, cached);
    } else {
        retrying([&] { prepare(*cached, label); });
    }
    cached->setLabel(label);
    return Statement(cached);
}

pg::Result PgSession::run(const QString& sql, const QVariantList& params, const QString& label)
{
    QVector<QByteArray> texts(params.size());
    QVector<const char*> values(params.size());
    for (int i = 0; i < params.size(); ++i) {
        bool null = false;
        texts[i] = pg::parameterText(params[i], &null);
        values[i] = null ? nullptr : texts[i].constData();
    }
    const QByteArray text = sql.toUtf8();
    return retrying([&] {
        pg::Result r = exchange(label, [&](PGconn* c) {
            return PQsendQueryParams(c, text.constData(), int(params.size()), nullptr, values.constData(), nullptr,
                                     nullptr, 0);
        });
        const ExecStatusType status = PQresultStatus(r.get());
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            fail(label, r.get());
        return r;
    });
}

bool PgSession::runLock(const QString& sql, qint64 key, const QString& label)
{
    const QByteArray text = sql.toUtf8();
    const QByteArray keyText = QByteArray::number(key);
    const char* values[] = {keyText.constData()};
    const pg::Result r = exchange(label, [&](PGconn* c) {
        return PQsendQueryParams(c, text.constData(), 1, nullptr, values, nullptr, nullptr, 0);
    });
    return PQresultStatus(r.get()) == PGRES_TUPLES_OK && r.rows() == 1 && r.text(0, 0) != QLatin1String("f");
}

void PgSession::fail(const QString& label, const PGresult* result)
{
    const QString state = pg::sqlState(result);
    if (!connected() || connectionEnded(state))
        lose(label, lostText(conn(), result), true);
    QString message = pg::errorText(conn(), result);
    if (state == QLatin1String("23505"))
        message = QStringLiteral("Key violation: table %1 already has a row with this key.").arg(label);
    else if (state == QLatin1String("55P03") || state == QLatin1String("40P01") || state == QLatin1String("40001"))
        message = QStringLiteral("Table %1 is busy: another program is writing to it. Try again in a moment.").arg(label);
    else
        message = QStringLiteral("Table %1: %2").arg(label, message);
    // A failed statement spoils the server transaction it ran in: what the
    // batch wrote since its last commit is undone, and the user must know.
    // Inside a change unit the unit's savepoint takes back its own writes
    // alone, when the unit unwinds.
    const bool spoilt = m_inTransaction && PQtransactionStatus(conn()) != PQTRANS_INTRANS
                        && (m_unitDepth == 0 || PQstatus(conn()) == CONNECTION_BAD);
    const bool batch = spoilt && !m_own;
    if (spoilt)
        rollback();
    if (batch)
        message += QStringLiteral("  The changes of the last moments of this work were not saved.");
    throw StoreError(message);
}

void PgSession::begin(bool own, const QString& label)
{
    run(QStringLiteral("BEGIN"), {}, label);
    m_inTransaction = true;
    m_own = own;
    ++m_serial;
    m_age.start();
}

void PgSession::commit()
{
    if (!m_lost.isEmpty()) {
        // The batch's transaction went with the connection: this commit is
        // where the loss is reported, once.
        const QString lost = std::exchange(m_lost, QString());
        endTransaction();
        throw StoreError(lost);
    }
    if (!m_inTransaction)
        return;
    const QString tables = changedTables(QStringLiteral("(transaction)"));
    if (!stillUp()) {
        const QString why = lostText(conn(), nullptr);
        m_conn.reset();
        endTransaction();
        throw StoreError(QStringLiteral("Table %1: the changes of the last moments of this work were not saved: %2.")
                             .arg(tables, why));
    }
    if (PQtransactionStatus(conn()) != PQTRANS_INTRANS) {
        const QString message = pg::errorText(conn());
        rollback();
        throw StoreError(QStringLiteral("The changes could not be saved on the database server (%1).").arg(message));
    }
    PGconn* c = conn();
    const int timeout = Session::instance().serverTimeout();
    bool noAnswer = false;
    pg::Result r;
    if (PQsendQuery(c, "COMMIT"))
        r = pg::awaitResult(c, timeout, &noAnswer);
    if (noAnswer || !connected()) {
        // The answer to the commit itself is missing: the server may or may
        // not have saved the changes, and they must not pass as saved.
        const QString why = noAnswer ? pg::noAnswerText(timeout) : lostText(c, r.get());
        m_conn.reset();
        endTransaction();
        throw StoreError(QStringLiteral("Table %1: the changes may not have been saved on the database server: %2.")
                             .arg(tables, why));
    }
    if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
        const QString message = pg::errorText(conn(), r.get());
        rollback();
        throw StoreError(QStringLiteral("The changes could not be saved on the database server (%1).").arg(message));
    }
    endTransaction();
}

// A server that does not answer loses the connection here too.
bool PgSession::runQuietly(const char* sql, QString* why)
{
    const int timeout = Session::instance().serverTimeout();
    bool noAnswer = false;
    pg::Result r;
    if (stillUp() && PQsendQuery(conn(), sql))
        r = pg::awaitResult(conn(), timeout, &noAnswer);
    if (noAnswer) {
        *why = pg::noAnswerText(timeout);
        m_conn.reset();
        return false;
    }
    if (PQresultStatus(r.get()) == PGRES_COMMAND_OK)
        return true;
    *why = pg::errorText(conn(), r.get());
    return false;
}

// Never raises: a connection that is gone has undone the transaction itself.
void PgSession::rollback()
{
    if (connected() && PQtransactionStatus(conn()) != PQTRANS_IDLE && PQsendQuery(conn(), "ROLLBACK")) {
        bool noAnswer = false;
        pg::awaitResult(conn(), Session::instance().serverTimeout(), &noAnswer);
        if (noAnswer)
            m_conn.reset();
    }
    endTransaction();
}

void PgSession::endTransaction()
{
    m_inTransaction = false;
    m_own = false;
    m_deferred.clear(); // the transaction's end released its savepoints
    // A change unit still open lost its transaction with the others: it
    // cannot be committed, however its caller goes on.
    if (m_unitDepth > 0)
        m_unitFailed = true;
    const QVector<PgConnection*> members = m_members;
    m_members.clear();
    for (PgConnection* m : members)
        m->left();
}

void PgSession::addMember(PgConnection* member)
{
    if (!m_members.contains(member))
        m_members.append(member);
}

// --- PgConnection --------------------------------------------------------------

std::shared_ptr<PgConnection> PgConnection::acquire(const ServerAlias& server, const QString& tableName)
{
    const QString key = QStringLiteral("postgresql\n%1\n%2\n%3").arg(server.connection, server.schema, sqlTableName(tableName));
    if (auto found = std::static_pointer_cast<PgConnection>(pooled(key)))
        return found;
    std::shared_ptr<PgConnection> conn(new PgConnection);
    conn->m_label = tableName;
    conn->m_schema = server.schema;
    conn->m_session = PgSession::acquire(server.connection);
    conn->readSchema(tableName);
    conn->m_lockKey = pg::lockKey(server.schema, conn->m_sqlName);
    conn->m_session->m_tables.append(conn.get());
    registerPooled(key, conn);
    return conn;
}

PgConnection::~PgConnection()
{
    leaveBatchList();
    if (m_session) {
        m_session->m_members.removeAll(this);
        m_session->m_tables.removeAll(this);
    }
}

PgSession& PgConnection::live()
{
    m_session->ensureConnected(m_label);
    if (!m_lockLost.isEmpty())
        throw StoreError(m_lockLost);
    return *m_session;
}

void PgConnection::readSchema(const QString& tableName)
{
    m_session->ensureConnected(tableName);
    const pg::TableLayout layout = pg::describeTable(m_session->conn(), m_schema, tableName, m_label);
    m_sqlName = layout.name;
    m_qualified = pg::quoteIdent(m_schema) + QLatin1Char('.') + pg::quoteIdent(layout.name);
    for (const ColumnDef& c : layout.def.columns) {
        ColumnInfo col;
        col.name = c.name;
        col.declaredType = c.declaredType;
        col.type = fieldTypeOf(col.declaredType, &col.size);
        addColumn(col);
    }
    for (const QString& k : layout.def.primaryKey) {
        const int index = columnIndex(k);
        const QString serverType = layout.serverTypes.value(index);
        const QString why = pg::inexactKeyType(serverType);
        if (!why.isEmpty())
            throw StoreError(QStringLiteral("Table %1 cannot be opened: its key field %2 holds %3 (%4 on the server), "
                                            "so this program cannot tell its rows apart.")
                                 .arg(m_label, k, why, serverType));
        m_keyColumns.append(index);
    }
}

Statement PgConnection::statement(const QString& sql)
{
    return live().statement(sql, m_label);
}

void PgConnection::exec(const QString& sql)
{
    live().run(sql, {}, m_label);
}

qint64 PgConnection::insertRow(const QString& sql, const QVector<QVariant>& values)
{
    // A key that exists already is reported without spoiling the batch's
    // transaction.
    Statement stmt = statement(sql + QLatin1String(" ON CONFLICT DO NOTHING RETURNING rowid"));
    for (int i = 0; i < values.size(); ++i)
        stmt.bind(i + 1, values[i]);
    if (!stmt.step())
        throw StoreError(QStringLiteral("Key violation: table %1 already has a row with this key.").arg(m_label));
    return stmt.columnInt(0);
}

void PgConnection::checkPassword()
{
    if (m_passwordOk)
        return;
    live();
    const pg::PasswordHash stored = pg::tablePassword(m_session->conn(), m_schema, m_sqlName, m_label);
    if (stored.hash.isEmpty()) {
        m_passwordOk = true;
        return;
    }
    for (const QString& pw : Session::instance().passwords()) {
        if (passwordHash(stored.salt, pw) == stored.hash) {
            m_passwordOk = true;
            return;
        }
    }
    throw StoreError(QStringLiteral("Table %1 is protected by a password, and no registered password opens it.")
                         .arg(m_label));
}

// Session-level advisory locks, tried without waiting: they belong to this
// program's server connection as fcntl locks belong to a process, so this
// program's own tables never block each other.
void PgConnection::takeLock(bool exclusive)
{
    const QString function = exclusive ? QStringLiteral("pg_try_advisory_lock") : QStringLiteral("pg_try_advisory_lock_shared");
    const pg::Result r = m_session->run(QStringLiteral("SELECT %1($1::bigint)").arg(function), {m_lockKey}, m_label);
    if (r.rows() == 1 && r.text(0, 0) == QLatin1String("t"))
        return;
    if (exclusive)
        throw StoreError(QStringLiteral("Could not get exclusive access to table %1: another program has it open.")
                             .arg(m_label));
    throw StoreError(QStringLiteral("Table %1 cannot be opened: another program is using it exclusively.").arg(m_label));
}

// After a reconnect. The server let go of the old connection's locks; they
// are taken again, waiting up to the busy timeout for the old connection's
// server process to end. When another program took the table meanwhile, the
// table fails until this program has closed it everywhere.
void PgConnection::retakeLocks()
{
    const bool exclusive = m_holdsExclusive;
    const bool shared = m_holdsShared;
    m_holdsExclusive = m_holdsShared = false;
    if (exclusive && !m_session->runLock(QStringLiteral("SELECT pg_advisory_lock($1::bigint)"), m_lockKey, m_label)) {
        m_lockLost = QStringLiteral("Table %1: this program lost its exclusive access to it while the connection to "
                                    "the database server was down, and another program has it open now. Close the "
                                    "table and open it again.")
                         .arg(m_label);
        return;
    }
    m_holdsExclusive = exclusive;
    if (shared && !m_session->runLock(QStringLiteral("SELECT pg_advisory_lock_shared($1::bigint)"), m_lockKey, m_label)) {
        if (m_holdsExclusive)
            m_session->runLock(QStringLiteral("SELECT pg_advisory_unlock($1::bigint)"), m_lockKey, m_label);
        m_holdsExclusive = false;
        m_lockLost = QStringLiteral("Table %1: while the connection to the database server was down, another program "
                                    "opened it exclusively. Close the table and open it again.")
                         .arg(m_label);
        return;
    }
    m_holdsShared = shared;
}

void PgConnection::lock(bool exclusive)
{
    if (!m_lockLost.isEmpty())
        throw StoreError(m_lockLost);
    if (exclusive) {
        if (!m_holdsExclusive) {
            takeLock(true);
            m_holdsExclusive = true;
        }
        ++m_exclusive;
    } else {
        if (!m_holdsShared && !m_holdsExclusive) {
            takeLock(false);
            m_holdsShared = true;
        }
        ++m_shared;
    }
}

void PgConnection::unlock(bool exclusive)
{
    if (exclusive)
        m_exclusive = qMax(0, m_exclusive - 1);
    else
        m_shared = qMax(0, m_shared - 1);
    if (!m_lockLost.isEmpty()) {
        if (m_exclusive == 0 && m_shared == 0)
            m_lockLost.clear(); // the next open starts afresh
        return;
    }
    try {
        if (m_exclusive == 0 && m_holdsExclusive) {
            // Shared opens that came while the table was exclusive keep it
            // open for this program: their lock is taken before the
            // exclusive one goes, so nobody slips in between.
            if (m_shared > 0 && !m_holdsShared) {
                takeLock(false);
                m_holdsShared = true;
            }
            m_session->run(QStringLiteral("SELECT pg_advisory_unlock($1::bigint)"), {m_lockKey}, m_label);
            m_holdsExclusive = false;
        }
        if (m_shared == 0 && m_holdsShared) {
            m_session->run(QStringLiteral("SELECT pg_advisory_unlock_shared($1::bigint)"), {m_lockKey}, m_label);
            m_holdsShared = false;
        }
    } catch (const StoreError&) {
        // A lost connection has released its locks already. A batch whose
        // changes went with it hears of that at its commit.
        if (!m_session->connected())
            m_holdsExclusive = m_holdsShared = false;
    }
}

// --- Transactions and change units ----------------------------------------------

// A unit is a savepoint of the session's batch transaction, or outside a
// batch a transaction of its own. The session's tables share that
// transaction: a unit opened while another is open, on any of them, is part
// of the same change, and when it fails the whole change fails.
void PgConnection::beginUnit()
{
    PgSession& s = live();
    if (s.m_unitDepth > 0) {
        ++s.m_unitDepth;
        if (!s.ownTransaction()) {
            s.addMember(this);
            joinBatchList();
        }
        return;
    }
    s.applyLockTimeout();
    if (!batchAlive()) {
        if (s.inTransaction() && !s.ownTransaction())
            s.commit(); // what a batch left, before this change starts
        s.begin(true, m_label);
        s.m_unitSavepoint = false;
    } else {
        commitStale();
        if (!s.inTransaction())
            s.begin(false, m_label);
        s.addMember(this);
        joinBatchList();
        s.defer(kSavepoint);
        s.m_unitSavepoint = true;
    }
    s.m_unitDepth = 1;
    s.m_unitFailed = false;
}

void PgConnection::releaseUnit()
{
    PgSession& s = *m_session;
    if (s.m_unitDepth == 0)
        return;
    if (s.m_unitDepth > 1) {
        --s.m_unitDepth;
        return;
    }
    if (s.m_unitFailed) {
        rollbackUnit();
        throw StoreError(QStringLiteral("Table %1: part of the change failed, so none of it was saved.").arg(m_label));
    }
    if (s.m_unitSavepoint) {
        // A statement that failed in the unit, its error caught, has spoilt
        // the transaction: the release would fail, and the unit is undone.
        if (s.connected() && PQtransactionStatus(s.conn()) != PQTRANS_INTRANS) {
            rollbackUnit();
            throw StoreError(QStringLiteral("Table %1: part of the change failed, so none of it was saved.").arg(m_label));
        }
        // The release goes out with the next call: nothing can be undone
        // in between, and the transaction's commit releases it anyway.
        s.defer(kRelease);
        s.m_unitDepth = 0;
        return;
    }
    s.m_unitDepth = 0;
    try {
        s.commit();
    } catch (...) {
        countRollback();
        throw;
    }
}

void PgConnection::rollbackUnit() noexcept
{
    PgSession& s = *m_session;
    if (s.m_unitDepth == 0)
        return;
    if (s.m_unitDepth > 1) {
        --s.m_unitDepth;
        s.m_unitFailed = true;
        return;
    }
    s.m_unitDepth = 0;
    countRollback();
    if (!s.inTransaction() || !s.m_lost.isEmpty())
        return; // ended already, and said so (a loss with the connection at the batch's commit)
    if (!s.m_unitSavepoint) {
        s.rollback();
        return;
    }
    if (s.dropDeferredSavepoint())
        return; // nothing was sent since it was asked for
    QString why;
    if (s.runQuietly("ROLLBACK TO SAVEPOINT brisel_unit; RELEASE SAVEPOINT brisel_unit", &why))
        return; // the batch keeps what its other units wrote
    // The transaction cannot be saved (the connection is gone): what the
    // batch wrote since its last commit is lost, and must be told.
    s.rollback();
    noteLostWork(QStringLiteral("The changes of the last moments of this work were not saved on the database "
                                "server (%1).").arg(why));
}

int PgConnection::unitDepth() const
{
    return m_session->m_unitDepth;
}

// Any program that writes a table holds it open; the journal's rows are
// written under a shared lock that the transaction's end releases, and wait
// for a program that holds merge exclusively as a busy write waits.
void PgConnection::lockForWriting()
{
    // The lock lasts to the end of the transaction, unless a rollback to a
    // savepoint gave it back: once taken, a batch's later rows need not ask
    // the server again (one round trip less per journal row).
    const quint64 serial = m_session->serial();
    if (m_session->inTransaction() && serial == m_writeLockSerial && rollbacks() == m_writeLockRollbacks)
        return;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const pg::Result r = m_session->run(QStringLiteral("SELECT pg_try_advisory_xact_lock_shared($1::bigint)"), {m_lockKey}, m_label);
        if (r.rows() == 1 && r.text(0, 0) == QLatin1String("t")) {
            m_writeLockSerial = serial;
            m_writeLockRollbacks = rollbacks();
            return;
        }
        if (waited.elapsed() >= Session::instance().busyTimeout())
            throw StoreError(QStringLiteral("Table %1 cannot be written: another program is using it exclusively.").arg(m_label));
        QThread::msleep(10);
    }
}

void PgConnection::beginRead(bool mayCommit)
{
    // Reads need no transaction of their own on a server; inside a batch
    // they run in its transaction when it is open.
    if (batchAlive() && mayCommit)
        commitStale();
}

void PgConnection::commitBatch()
{
    PgSession& s = *m_session;
    if (s.inTransaction() && !s.ownTransaction())
        s.commit();
    leaveBatchList();
}

bool PgConnection::inBatch() const
{
    return m_session->inTransaction() && !m_session->ownTransaction();
}

quint64 PgConnection::transactionSerial() const
{
    return m_session->serial();
}

qint64 PgConnection::dataVersion()
{
    // Other workstations change rows without telling: every reading counts
    // as possibly changed, so rows are read again before they are edited and
    // checked again before they are written.
    return m_session->nextVersion();
}

qint64 PgConnection::batchAgeMs() const
{
    return m_session->ageMs();
}

} // namespace store
