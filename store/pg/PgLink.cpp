#include "store/pg/PgLink.h"

#include "store/RawText.h"
#include "store/Session.h"
#include "store/StoreError.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRegularExpression>

#include <cerrno>
#include <cstdlib>
#include <libpq-fe.h>
#include <poll.h>
#include <sys/socket.h>

namespace store::pg {

namespace {

// Server type oids (pg_type.h is a server header, not part of libpq).
enum : unsigned {
    kBool = 16,
    kBytea = 17,
    kInt8 = 20,
    kInt2 = 21,
    kInt4 = 23,
    kText = 25,
    kOid = 26,
    kFloat4 = 700,
    kFloat8 = 701,
    kBpchar = 1042,
    kVarchar = 1043,
    kDate = 1082,
    kTime = 1083,
    kTimestamp = 1114,
    kTimestampTz = 1184,
    kNumeric = 1700,
};

QString oneLine(const char* message)
{
    return QString::fromUtf8(message).simplified();
}

// A time of day "HH:MM:SS[.ffffff]" with exactly three fraction digits.
QByteArray threeDigits(const QByteArray& time)
{
    const int dot = time.indexOf('.');
    const QByteArray whole = dot < 0 ? time : time.left(dot);
    QByteArray fraction = dot < 0 ? QByteArray() : time.mid(dot + 1);
    fraction = (fraction + "000").left(3);
    return whole + '.' + fraction;
}

// Waits until the socket is ready for events or the deadline passes; false
// when the deadline passed.
bool waitSocket(int socket, short events, const QDeadlineTimer& deadline)
{
    for (;;) {
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return false;
        pollfd p{socket, events, 0};
        const int ready = ::poll(&p, 1, int(qMin<qint64>(left, 1000 * 1000)));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return true; // let libpq meet the error itself
    }
}

QString failureText(PGconn* conn, const PGresult* result, const QString& label)
{
    const QString message = errorText(conn, result);
    return label.isEmpty() ? QStringLiteral("Database server: %1").arg(message)
                           : QStringLiteral("Table %1: %2").arg(label, message);
}

// Waits for a statement sent with sent (PQsend... returned it) within the
// session's bound and raises StoreError when it failed.
Result finish(PGconn* conn, int sent, const QString& label)
{
    const int timeout = Session::instance().serverTimeout();
    bool noAnswer = false;
    Result r = sent ? awaitResult(conn, timeout, &noAnswer) : Result();
    if (noAnswer)
        throw StoreError(label.isEmpty() ? QStringLiteral("Database server: %1").arg(noAnswerText(timeout))
                                         : QStringLiteral("Table %1: %2").arg(label, noAnswerText(timeout)));
    const ExecStatusType status = PQresultStatus(r.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw StoreError(failureText(conn, r.get(), label));
    return r;
}

} // namespace

void ConnDeleter::operator()(PGconn* conn) const
{
    PQfinish(conn);
}

ConnPtr connect(const QString& connectionString)
{
    // The entries before the connection string ("dbname", expanded) are
    // defaults it may override; the one after it is not.
    const QByteArray program = QCoreApplication::instance() ? QCoreApplication::applicationName().toUtf8()
                                                            : QByteArrayLiteral("brisel");
    const QByteArray target = connectionString.toUtf8();
    QVector<const char*> keywords = {"keepalives", "keepalives_idle", "keepalives_interval", "keepalives_count",
                                     "tcp_user_timeout", "fallback_application_name"};
    QVector<const char*> values = {"1", "10", "5", "3", "30000", program.constData()};
    if (!qEnvironmentVariableIsSet("PGCONNECT_TIMEOUT")) { // libpq's own setting rules when given
        keywords << "connect_timeout";
        values << "10";
    }
    keywords << "dbname" << "client_encoding" << nullptr;
    values << target.constData() << "UTF8" << nullptr;
    ConnPtr conn(PQconnectdbParams(keywords.constData(), values.constData(), 1));
    if (!conn)
        throw StoreError(QStringLiteral("Cannot connect to the database server: out of memory."));
    if (PQstatus(conn.get()) != CONNECTION_OK)
        throw StoreError(QStringLiteral("Cannot connect to the database server (%1).").arg(errorText(conn.get())));
    // Plain settings whatever the server's defaults: ISO dates, binary text
    // order comes from the columns' collation, no statement cut short.
    try {
        execPlain(conn.get(), QStringLiteral("SET DateStyle = 'ISO, YMD'; SET statement_timeout = 0; "
                                             "SET client_min_messages = warning"));
    } catch (const StoreError& e) {
        throw StoreError(QStringLiteral("Cannot set up the database connection (%1).").arg(e.message()));
    }
    return conn;
}

namespace {

bool isError(const PGresult* r)
{
    const ExecStatusType status = PQresultStatus(r);
    return status == PGRES_FATAL_ERROR || status == PGRES_BAD_RESPONSE;
}

// Sends what a nonblocking connection still holds. False when the server
// takes nothing before the deadline (*noAnswer) or the connection failed.
bool flushAll(PGconn* conn, int socket, const QDeadlineTimer& deadline, bool* noAnswer)
{
    for (;;) {
        const int flushed = PQflush(conn);
        if (flushed <= 0)
            return flushed == 0;
        if (!waitSocket(socket, POLLIN | POLLOUT, deadline)) {
            *noAnswer = true;
            return false;
        }
        if (!PQconsumeInput(conn))
            return false;
    }
}

// Waits until a result can be taken without blocking; false as above.
bool awaitReady(PGconn* conn, int socket, const QDeadlineTimer& deadline, bool* noAnswer)
{
    while (PQisBusy(conn)) {
        if (!waitSocket(socket, POLLIN, deadline)) {
            *noAnswer = true;
            return false;
        }
        if (!PQconsumeInput(conn))
            return false; // PQgetResult then says why
    }
    return true;
}

} // namespace

Result awaitResult(PGconn* conn, int timeoutMs, bool* noAnswer)
{
    *noAnswer = false;
    const QDeadlineTimer deadline(qMax(1, timeoutMs));
    const int socket = PQsocket(conn);
    if (socket >= 0 && flushAll(conn, socket, deadline, noAnswer))
        awaitReady(conn, socket, deadline, noAnswer);
    if (*noAnswer)
        ::shutdown(socket, SHUT_RDWR); // PQgetResult below meets the end at once
    Result kept;
    while (PGresult* next = PQgetResult(conn)) {
        Result r(next);
        const ExecStatusType status = PQresultStatus(next);
        if (!kept.get() || !isError(kept.get()))
            kept = std::move(r);
        if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH)
            break; // the caller goes on with the copy
    }
    return kept;
}

Result awaitPipeline(PGconn* conn, int timeoutMs, bool* noAnswer)
{
    *noAnswer = false;
    const QDeadlineTimer deadline(qMax(1, timeoutMs));
    const int socket = PQsocket(conn);
    Result kept;
    bool ok = socket >= 0 && flushAll(conn, socket, deadline, noAnswer);
    while (ok && awaitReady(conn, socket, deadline, noAnswer)) {
        PGresult* next = PQgetResult(conn);
        if (!next) {
            ok = PQstatus(conn) == CONNECTION_OK; // else the end of one statement's results
            continue;
        }
        Result r(next);
        if (PQresultStatus(next) == PGRES_PIPELINE_SYNC)
            break;
        // Statements after a failed one come back "aborted": the failure
        // itself is what the caller hears of.
        if (!kept.get() || !isError(kept.get()))
            kept = std::move(r);
    }
    if (*noAnswer)
        ::shutdown(socket, SHUT_RDWR);
    return kept;
}

QString noAnswerText(int timeoutMs)
{
    return QStringLiteral("the database server does not answer (no reply within %1 seconds); "
                          "the connection to it was closed")
        .arg((timeoutMs + 999) / 1000);
}

Result::~Result()
{
    if (m_result)
        PQclear(m_result);
}

Result& Result::operator=(Result&& other) noexcept
{
    if (this != &other) {
        if (m_result)
            PQclear(m_result);
        m_result = other.m_result;
        other.m_result = nullptr;
    }
    return *this;
}

int Result::rows() const { return m_result ? PQntuples(m_result) : 0; }
int Result::columns() const { return m_result ? PQnfields(m_result) : 0; }
bool Result::isNull(int row, int column) const { return PQgetisnull(m_result, row, column) != 0; }

QString Result::text(int row, int column) const
{
    return QString::fromUtf8(PQgetvalue(m_result, row, column), PQgetlength(m_result, row, column));
}

qint64 Result::integer(int row, int column) const
{
    return std::strtoll(PQgetvalue(m_result, row, column), nullptr, 10);
}

QVariant Result::stored(int row, int column) const
{
    if (isNull(row, column))
        return QVariant();
    const unsigned oid = PQftype(m_result, column);
    const char* text = PQgetvalue(m_result, row, column);
    const int length = PQgetlength(m_result, row, column);
    switch (kindOf(oid)) {
    case Kind::Integer: {
        qint64 v = 0;
        parseInteger(oid, text, &v);
        return QVariant(v);
    }
    case Kind::Float: return QVariant(std::strtod(text, nullptr));
    case Kind::Blob: {
        size_t size = 0;
        unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(text), &size);
        const QByteArray data(reinterpret_cast<const char*>(bytes), qsizetype(size));
        PQfreemem(bytes);
        return QVariant(data);
    }
    default: return QVariant(QString::fromUtf8(storedText(oid, text, length)));
    }
}

Kind kindOf(unsigned oid)
{
    switch (oid) {
    case kBool:
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid: return Kind::Integer;
    case kFloat4:
    case kFloat8:
    case kNumeric: return Kind::Float;
    case kBytea: return Kind::Blob;
    default: return Kind::Text;
    }
}

bool parseInteger(unsigned oid, const char* text, qint64* out)
{
    if (oid == kBool) {
        *out = text[0] == 't' ? 1 : 0;
        return true;
    }
    char* end = nullptr;
    *out = std::strtoll(text, &end, 10);
    return end != text;
}

bool needsRewrite(unsigned oid)
{
    return oid == kTime || oid == kTimestamp || oid == kTimestampTz;
}

QByteArray storedText(unsigned oid, const char* text, int length)
{
    const QByteArray value(text, length);
    switch (oid) {
    case kTime: return threeDigits(value);
    case kTimestamp:
    case kTimestampTz: {
        // "YYYY-MM-DD HH:MM:SS[.ffffff][+zz]"; BC and infinite stamps stay
        // as the server wrote them, and the field reports them unreadable.
        const int space = value.indexOf(' ');
        if (space < 0 || value.endsWith("BC"))
            return value;
        QByteArray time = value.mid(space + 1);
        const int zone = time.indexOf('+') >= 0 ? time.indexOf('+') : time.indexOf('-');
        if (zone >= 0)
            time = time.left(zone);
        return value.left(space + 1) + threeDigits(time);
    }
    default: return value;
    }
}

QString inexactKeyType(const QString& serverType)
{
    // "timestamp(6) without time zone", "time without time zone" (six
    // digits), "numeric(12,4)", ...
    static const QRegularExpression time(QStringLiteral("^(timestamp|time)(\\((\\d+)\\))?( with| without|$)"));
    const auto m = time.match(serverType);
    if (m.hasMatch() && (m.captured(3).isEmpty() || m.captured(3).toInt() > 3))
        return QStringLiteral("times finer than a millisecond");
    if (serverType.startsWith(QLatin1String("numeric")))
        return QStringLiteral("numbers more exact than this program reads");
    return QString();
}

QByteArray parameterText(const QVariant& value, bool* isNull)
{
    *isNull = false;
    if (value.metaType() == QMetaType::fromType<RawText>())
        return value.value<RawText>().bytes;
    if (!value.isValid() || value.isNull()) {
        *isNull = true;
        return QByteArray();
    }
    switch (value.typeId()) {
    case QMetaType::Bool: return value.toBool() ? QByteArrayLiteral("1") : QByteArrayLiteral("0");
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long: return QByteArray::number(value.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float: return QByteArray::number(value.toDouble(), 'g', 17);
    case QMetaType::QByteArray: return "\\x" + value.toByteArray().toHex();
    default: return value.toString().toUtf8();
    }
}

Result exec(PGconn* conn, const QString& sql, const QVariantList& params, const QString& label)
{
    QVector<QByteArray> texts(params.size());
    QVector<const char*> values(params.size());
    for (int i = 0; i < params.size(); ++i) {
        bool null = false;
        texts[i] = parameterText(params[i], &null);
        values[i] = null ? nullptr : texts[i].constData();
    }
    const int sent = PQsendQueryParams(conn, sql.toUtf8().constData(), int(params.size()), nullptr,
                                       values.constData(), nullptr, nullptr, 0);
    return finish(conn, sent, label);
}

void execPlain(PGconn* conn, const QString& sql, const QString& label)
{
    finish(conn, PQsendQuery(conn, sql.toUtf8().constData()), label);
}

QString errorText(PGconn* conn, const PGresult* result)
{
    if (result) {
        const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
        if (primary && *primary)
            return oneLine(primary);
    }
    const QString message = conn ? oneLine(PQerrorMessage(conn)) : QString();
    return message.isEmpty() ? QStringLiteral("no answer from the server") : message;
}

QString sqlState(const PGresult* result)
{
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    return state ? QString::fromLatin1(state) : QString();
}

QString quoteIdent(const QString& name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString serverType(const QString& declaredType)
{
    static const QRegularExpression sized(QStringLiteral("^\\s*(\\w+)\\s*\\(\\s*(\\d+)\\s*\\)\\s*$"));
    const QString t = declaredType.trimmed().toUpper();
    const auto m = sized.match(t);
    const QString base = m.hasMatch() ? m.captured(1) : t;
    const QString size = m.hasMatch() ? m.captured(2) : QString();
    const QString binary = QStringLiteral(" COLLATE \"C\"");
    if (base.contains(QLatin1String("CHAR")) || (base == QLatin1String("TEXT") && !size.isEmpty()))
        return size.isEmpty() ? QStringLiteral("text") + binary : QStringLiteral("varchar(%1)").arg(size) + binary;
    if (base == QLatin1String("TEXT") || base == QLatin1String("CLOB") || base == QLatin1String("MEMO"))
        return QStringLiteral("text") + binary;
    if (base.startsWith(QLatin1String("BOOL")) || base == QLatin1String("LOGICAL"))
        return QStringLiteral("boolean");
    if (base == QLatin1String("SMALLINT"))
        return QStringLiteral("smallint");
    if (base.contains(QLatin1String("INT")))
        return QStringLiteral("bigint"); // SQLite's integers have 64 bits
    if (base == QLatin1String("DATETIME") || base == QLatin1String("TIMESTAMP"))
        return QStringLiteral("timestamp(3)");
    if (base == QLatin1String("DATE"))
        return QStringLiteral("date");
    if (base == QLatin1String("TIME"))
        return QStringLiteral("time(3)");
    if (base.contains(QLatin1String("REAL")) || base.contains(QLatin1String("FLOA")) || base.contains(QLatin1String("DOUB"))
        || base == QLatin1String("NUMERIC") || base.startsWith(QLatin1String("DECIMAL")))
        return QStringLiteral("double precision");
    if (base == QLatin1String("BLOB"))
        return QStringLiteral("bytea");
    return QStringLiteral("text") + binary;
}

qint64 lockKey(const QString& schema, const QString& table)
{
    // FNV-1a: the same key on every workstation, unlike a seeded hash.
    quint64 hash = 14695981039346656037ull;
    const QByteArray name = ("brisel/" + schema.toLower() + '/' + table.toLower()).toUtf8();
    for (const char c : name) {
        hash ^= quint8(c);
        hash *= 1099511628211ull;
    }
    return qint64(hash);
}

} // namespace store::pg
