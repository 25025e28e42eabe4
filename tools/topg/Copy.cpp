#include "tools/topg/Copy.h"

#include "store/StoreError.h"
#include "store/pg/PgLink.h"
#include "store/pg/PgSchema.h"
#include "tools/topg/SourceFile.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <libpq-fe.h>
#include <memory>

namespace topg {

namespace {

using store::StoreError;
using store::pg::exec;
using store::pg::execPlain;
using store::pg::quoteIdent;

using Sources = std::vector<std::unique_ptr<SourceFile>>;

QString qualified(const QString& schema, const QString& table)
{
    return quoteIdent(schema) + QLatin1Char('.') + quoteIdent(table);
}

// One server transaction; rolled back unless committed.
class Transaction {
public:
    explicit Transaction(PGconn* conn) : m_conn(conn) { execPlain(conn, QStringLiteral("BEGIN")); }
    ~Transaction()
    {
        if (!m_committed)
            store::pg::Result(PQexec(m_conn, "ROLLBACK"));
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit()
    {
        execPlain(m_conn, QStringLiteral("COMMIT"));
        m_committed = true;
    }

private:
    PGconn* m_conn;
    bool m_committed = false;
};

// A COPY ... FROM STDIN in text format. Lines are sent in large pieces;
// a copy that is not finished is ended with an error, so the server keeps
// none of its rows.
class CopyIn {
public:
    CopyIn(PGconn* conn, const QString& sql, const QString& table) : m_conn(conn), m_table(table)
    {
        store::pg::Result r(PQexec(conn, sql.toUtf8().constData()));
        if (PQresultStatus(r.get()) != PGRES_COPY_IN)
            throw StoreError(QStringLiteral("Table %1: %2").arg(table, store::pg::errorText(conn, r.get())));
        m_open = true;
    }
    ~CopyIn()
    {
        if (m_open)
            end("the copy was stopped");
    }
    CopyIn(const CopyIn&) = delete;
    CopyIn& operator=(const CopyIn&) = delete;

    QByteArray& buffer() { return m_buffer; }
    void lineDone()
    {
        if (m_buffer.size() >= (1 << 20))
            flush();
    }
    void finish()
    {
        flush();
        const QString error = end(nullptr);
        if (!error.isEmpty())
            throw StoreError(QStringLiteral("Table %1: %2").arg(m_table, error));
    }

private:
    void flush()
    {
        if (!m_buffer.isEmpty() && PQputCopyData(m_conn, m_buffer.constData(), int(m_buffer.size())) != 1)
            throw StoreError(QStringLiteral("Table %1: %2").arg(m_table, store::pg::errorText(m_conn)));
        m_buffer.clear();
    }
    // Ends the copy and collects its results; the first error, if any.
    QString end(const char* abortReason)
    {
        m_open = false;
        QString error;
        if (PQputCopyEnd(m_conn, abortReason) != 1)
            error = store::pg::errorText(m_conn);
        while (PGresult* result = PQgetResult(m_conn)) {
            store::pg::Result r(result);
            if (PQresultStatus(result) != PGRES_COMMAND_OK && error.isEmpty()) {
                // The detail names the row, e.g. the key two rows share.
                error = store::pg::errorText(m_conn, result);
                const char* detail = PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL);
                if (detail && *detail)
                    error += QLatin1Char(' ') + QString::fromUtf8(detail).simplified();
            }
        }
        return error;
    }

    PGconn* m_conn;
    QString m_table;
    QByteArray m_buffer;
    bool m_open = false;
};

QString columnList(const SourceFile& source)
{
    QStringList names{QStringLiteral("rowid")};
    for (const SourceColumn& c : source.columns())
        names << quoteIdent(c.name);
    return names.join(QLatin1String(", "));
}

Sources openSources(const QString& dataDir)
{
    if (!QFileInfo(dataDir).isDir())
        throw StoreError(QStringLiteral("There is no folder %1.").arg(QDir::toNativeSeparators(dataDir)));
    const QStringList files = tableFiles(dataDir);
    if (files.isEmpty())
        throw StoreError(QStringLiteral("The folder %1 holds no table files (*.db).").arg(QDir::toNativeSeparators(dataDir)));
    Sources sources;
    QHash<QString, QString> byTable;
    for (const QString& path : files) {
        auto source = std::make_unique<SourceFile>(path);
        const QString other = byTable.value(source->tableName());
        if (!other.isEmpty())
            throw StoreError(QStringLiteral("The files %1 and %2 would both become the table %3.")
                                 .arg(other, source->fileName(), source->tableName()));
        byTable.insert(source->tableName(), source->fileName());
        sources.push_back(std::move(source));
    }
    return sources;
}

// The tables of the schema, by lower-case name.
QHash<QString, QString> serverTables(PGconn* conn, const QString& schema)
{
    const store::pg::Result r = exec(conn, QStringLiteral("SELECT tablename FROM pg_tables WHERE schemaname = $1"), {schema});
    QHash<QString, QString> tables;
    for (int i = 0; i < r.rows(); ++i)
        tables.insert(r.text(i, 0).toLower(), r.text(i, 0));
    return tables;
}

// Makes room for the copied tables: refuses when one of them holds rows
// (unless replacing), then drops those that exist and their password rows.
void clearTargets(PGconn* conn, const QString& schema, const Sources& sources, bool replace)
{
    const QHash<QString, QString> existing = serverTables(conn, schema);
    QStringList withRows;
    for (const auto& source : sources) {
        const QString name = existing.value(source->tableName());
        if (name.isEmpty())
            continue;
        const store::pg::Result r =
            exec(conn, QStringLiteral("SELECT EXISTS (SELECT 1 FROM %1)").arg(qualified(schema, name)), {}, name);
        if (r.text(0, 0) == QLatin1String("t"))
            withRows << name;
    }
    if (!withRows.isEmpty() && !replace)
        throw SchemaInUse(QStringLiteral("The schema %1 holds rows in %2 already.")
                             .arg(schema, withRows.join(QLatin1String(", "))));
    const QString meta = qualified(schema, QStringLiteral("brisel_meta"));
    for (const auto& source : sources) {
        const QString name = existing.value(source->tableName());
        if (!name.isEmpty())
            execPlain(conn, QStringLiteral("DROP TABLE %1").arg(qualified(schema, name)), name);
        exec(conn, QStringLiteral("DELETE FROM %1 WHERE lower(tbl) = $1").arg(meta), {source->tableName()});
    }
}

void copyPasswordRows(PGconn* conn, const QString& schema, const SourceFile& source)
{
    const QString meta = qualified(schema, QStringLiteral("brisel_meta"));
    for (const auto& [key, value] : source.passwordRows())
        exec(conn, QStringLiteral("INSERT INTO %1 (tbl, key, value) VALUES ($1, $2, $3)").arg(meta),
             {source.tableName(), key, value}, source.tableName());
}

void checkPasswordRows(PGconn* conn, const QString& schema, const SourceFile& source)
{
    const store::pg::Result r =
        exec(conn, QStringLiteral("SELECT key, value FROM %1 WHERE tbl = $1 ORDER BY key")
                       .arg(qualified(schema, QStringLiteral("brisel_meta"))),
             {source.tableName()}, source.tableName());
    QList<QPair<QString, QString>> onServer;
    for (int i = 0; i < r.rows(); ++i)
        onServer.append({r.text(i, 0), r.text(i, 1)});
    if (onServer != source.passwordRows())
        throw StoreError(QStringLiteral("Table %1: the password on the server differs from the file's.")
                             .arg(source.tableName()));
}

// Rows and checksum of a table.
struct Tally {
    qint64 rows = 0;
    QString checksum;
    bool operator==(const Tally&) const = default;
};

Tally tally(const RowDigest& digest)
{
    return {digest.rows(), digest.hex()};
}

// Sends the rows of the file; the tally of what was sent.
Tally copyRows(PGconn* conn, const QString& schema, SourceFile& source)
{
    CopyIn copy(conn, QStringLiteral("COPY %1 (%2) FROM STDIN").arg(qualified(schema, source.tableName()), columnList(source)),
                source.tableName());
    RowDigest digest;
    qint64 rowid = 0;
    QVariantList values;
    while (source.nextRow(&rowid, &values)) {
        QByteArray& line = copy.buffer();
        line += QByteArray::number(rowid);
        for (const QVariant& value : values) {
            line += '\t';
            appendCopyField(line, value);
        }
        line += '\n';
        copy.lineDone();
        digest.addRow(rowid, values);
    }
    copy.finish();
    return tally(digest);
}

// Reads the table back from the server in rowid order.
Tally readBack(PGconn* conn, const QString& schema, const SourceFile& source)
{
    const QString table = source.tableName();
    execPlain(conn, QStringLiteral("DECLARE brisel_check NO SCROLL CURSOR FOR SELECT %1 FROM %2 ORDER BY rowid")
                        .arg(columnList(source), qualified(schema, table)),
              table);
    RowDigest digest;
    QVariantList values;
    for (;;) {
        const store::pg::Result r = exec(conn, QStringLiteral("FETCH FORWARD 5000 FROM brisel_check"), {}, table);
        if (r.rows() == 0)
            break;
        for (int row = 0; row < r.rows(); ++row) {
            values.clear();
            for (int column = 1; column < r.columns(); ++column)
                values.append(r.stored(row, column));
            digest.addRow(r.integer(row, 0), values);
        }
    }
    execPlain(conn, QStringLiteral("CLOSE brisel_check"), table);
    return tally(digest);
}

TableReport copyTable(PGconn* conn, const QString& schema, SourceFile& source)
{
    const QString table = source.tableName();
    store::pg::createTable(conn, schema, source.layout());
    copyPasswordRows(conn, schema, source);
    const Tally sent = copyRows(conn, schema, source);
    store::pg::resetRowIdSequence(conn, schema, table);

    const Tally back = readBack(conn, schema, source);
    if (!(back == sent))
        throw StoreError(QStringLiteral("Table %1: the server holds %2 rows (checksum %3) where the file holds %4 "
                                        "(checksum %5).")
                             .arg(table)
                             .arg(back.rows)
                             .arg(back.checksum)
                             .arg(sent.rows)
                             .arg(sent.checksum));
    checkPasswordRows(conn, schema, source);

    TableReport report;
    report.file = source.fileName();
    report.table = table;
    report.rows = sent.rows;
    report.checksum = sent.checksum;
    report.passwordProtected = !source.passwordRows().isEmpty();
    return report;
}

} // namespace

qint64 Report::totalRows() const
{
    qint64 total = 0;
    for (const TableReport& t : tables)
        total += t.rows;
    return total;
}

Report copyInstallation(const Options& options)
{
    if (options.schema.trimmed().isEmpty())
        throw StoreError(QStringLiteral("No schema was given to copy into."));
    // The server would shorten a longer name without a word.
    if (options.schema.toUtf8().size() > 63)
        throw StoreError(QStringLiteral("The schema name %1 is longer than the server's 63 bytes.").arg(options.schema));
    if (options.connection.trimmed().isEmpty())
        throw StoreError(QStringLiteral("No database server was given to copy to."));
    const Sources sources = openSources(options.dataDir);

    const store::pg::ConnPtr conn = store::pg::connect(options.connection);
    Transaction transaction(conn.get());
    // Two copies into one schema take turns; the second finds the first's rows.
    exec(conn.get(), QStringLiteral("SELECT pg_advisory_xact_lock($1::bigint)"),
         {store::pg::lockKey(options.schema, QStringLiteral("brisel-topg"))});
    store::pg::createSchema(conn.get(), options.schema);
    clearTargets(conn.get(), options.schema, sources, options.replace);

    Report report;
    for (const auto& source : sources) {
        report.tables.append(copyTable(conn.get(), options.schema, *source));
        for (const QString& other : source->otherTables())
            report.notes << QStringLiteral("%1: its table %2 is not read by Brisel and was not copied.")
                                .arg(source->fileName(), other);
    }
    transaction.commit();
    return report;
}

QStringList existingTables(const QString& connection, const QString& schema, const QStringList& names)
{
    const store::pg::ConnPtr conn = store::pg::connect(connection);
    const QHash<QString, QString> tables = serverTables(conn.get(), schema);
    QStringList found;
    for (const QString& name : names)
        if (tables.contains(name.toLower()))
            found << tables.value(name.toLower());
    return found;
}

} // namespace topg
