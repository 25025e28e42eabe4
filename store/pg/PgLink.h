#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVector>
#include <memory>

struct pg_conn;
struct pg_result;
typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;

// The libpq end of the PostgreSQL engine: a connection, statements with
// parameters, errors as StoreError, and the conversions between the server's
// values and the store's stored forms (booleans 0/1, dates 'YYYY-MM-DD',
// times 'HH:MM:SS.zzz', date-times 'YYYY-MM-DD HH:MM:SS.zzz').
namespace store::pg {

struct ConnDeleter {
    void operator()(PGconn* conn) const;
};
using ConnPtr = std::unique_ptr<PGconn, ConnDeleter>;

// Opens a connection with the settings every Brisel session uses (UTF-8,
// ISO dates, no statement timeout). Unless the connection string says
// otherwise, connecting gives up after 10 s and TCP keepalives notice a dead
// peer within about half a minute. Raises StoreError naming what failed; the
// connection string's password never appears in a message.
ConnPtr connect(const QString& connectionString);

// A result, cleared when it goes.
class Result {
public:
    explicit Result(PGresult* result = nullptr) : m_result(result) {}
    ~Result();
    Result(Result&& other) noexcept : m_result(other.m_result) { other.m_result = nullptr; }
    Result& operator=(Result&& other) noexcept;
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;

    PGresult* get() const { return m_result; }
    int rows() const;
    int columns() const;
    bool isNull(int row, int column) const;
    QString text(int row, int column) const;
    qint64 integer(int row, int column) const;
    // The value in the store's stored form, by the column's server type.
    QVariant stored(int row, int column) const;

private:
    PGresult* m_result;
};

// A parameter as text (nullopt-like empty QByteArray with isNull() for NULL):
// the server reads it as the type the statement's context gives it.
QByteArray parameterText(const QVariant& value, bool* isNull);

// Waits for the answer to what was just sent on conn (PQsendQuery...), for
// at most timeoutMs, and returns its result: of several, the first error,
// else the last. When no answer comes in time it shuts the connection down
// (its status turns bad: a statement cut off half-way leaves nothing on it
// worth keeping) and sets *noAnswer.
Result awaitResult(PGconn* conn, int timeoutMs, bool* noAnswer);
// The same for what was sent on conn in pipeline mode up to a sync: the
// first error of its statements, else the last statement's result. The
// connection stays in pipeline mode.
Result awaitPipeline(PGconn* conn, int timeoutMs, bool* noAnswer);
// What a call that got no answer within timeoutMs reports.
QString noAnswerText(int timeoutMs);

// Runs one statement with positional parameters ($1, $2, ...), waiting for
// the answer at most Session::serverTimeout(). Raises StoreError with
// "Table <label>: ..." on failure.
Result exec(PGconn* conn, const QString& sql, const QVariantList& params = {}, const QString& label = QString());
void execPlain(PGconn* conn, const QString& sql, const QString& label = QString());

// The server's message for the last failure, on one line.
QString errorText(PGconn* conn, const PGresult* result = nullptr);
// The SQLSTATE of a failed result ("" when none).
QString sqlState(const PGresult* result);

QString quoteIdent(const QString& name);

// The server type for a declared column type of the store (VARCHAR(20) ->
// varchar(20) COLLATE "C", DATETIME -> timestamp(3), ...). Texts compare by
// their bytes, as SQLite compares them.
QString serverType(const QString& declaredType);

// A stored-form value from a server value in text format, by the server's
// type oid: booleans become 0/1, integers qint64, floats double, times and
// date-times get exactly three fraction digits; texts stay as their bytes.
enum class Kind { Null, Integer, Float, Text, Blob };
Kind kindOf(unsigned oid);
// True for the types whose server text differs from the stored form (times
// and date-times, whose fraction digits vary).
bool needsRewrite(unsigned oid);
// The server's text of a time or date-time in the stored form; other texts
// are returned unchanged.
QByteArray storedText(unsigned oid, const char* text, int length);
bool parseInteger(unsigned oid, const char* text, qint64* out);

// Why values of a server type (as format_type names it) cannot serve as
// keys, or empty when they can: a key read in its stored form must find its
// row again. Times finer than a millisecond come back cut to three digits,
// numerics as doubles, so rows would be met twice or missed.
QString inexactKeyType(const QString& serverType);

// A stable 64-bit key for an advisory lock on a table of a schema.
qint64 lockKey(const QString& schema, const QString& table);

} // namespace store::pg
