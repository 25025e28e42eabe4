#pragma once

// The server floors: a thin layer over libpq alone (no store) for doing a
// benchmark's work in one transaction with prepared statements, and the
// benchmark schema dropped when the benchmark ends.

#include "BenchKit.h"

#include "store/Session.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <libpq-fe.h>

#include <cstdio>
#include <cstdlib>

namespace benchkit {

class PgRows {
public:
    explicit PgRows(PGresult* result) : m_result(result) {}
    ~PgRows() { PQclear(m_result); }
    PgRows(PgRows&& other) noexcept : m_result(other.m_result) { other.m_result = nullptr; }
    PgRows(const PgRows&) = delete;
    PgRows& operator=(const PgRows&) = delete;
    PgRows& operator=(PgRows&&) = delete;

    int rows() const { return PQntuples(m_result); }
    bool isNull(int row, int column) const { return PQgetisnull(m_result, row, column); }
    const char* value(int row, int column) const { return PQgetvalue(m_result, row, column); }
    int length(int row, int column) const { return PQgetlength(m_result, row, column); }
    QByteArray text(int row, int column) const { return QByteArray(value(row, column), length(row, column)); }
    qint64 integer(int row, int column) const { return std::strtoll(value(row, column), nullptr, 10); }

private:
    PGresult* m_result;
};

class PgLink {
public:
    explicit PgLink(const QString& connection) : m_conn(PQconnectdb(connection.toUtf8().constData()))
    {
        if (PQstatus(m_conn) != CONNECTION_OK)
            fail("cannot reach the server: " + error());
        exec("SET client_encoding = 'UTF8'");
        exec("SET client_min_messages = warning");
        // Every statement of the floors has an index to use. A plan the
        // server caches while a table is still empty would otherwise scan
        // it whole for the rest of the transaction, as it fills.
        exec("SET enable_seqscan = off");
    }
    ~PgLink() { PQfinish(m_conn); }
    PgLink(const PgLink&) = delete;
    PgLink& operator=(const PgLink&) = delete;

    PGconn* handle() const { return m_conn; }
    QString error() const { return QString::fromUtf8(PQerrorMessage(m_conn)).trimmed(); }
    PgRows check(PGresult* result, const QString& what) const
    {
        const ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            const QString message = QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
            PQclear(result);
            fail(what + ": " + message);
        }
        return PgRows(result);
    }
    PgRows exec(const QString& sql) { return check(PQexec(m_conn, sql.toUtf8().constData()), sql); }
    qint64 count(const QString& table) { return exec("SELECT count(*) FROM " + table).integer(0, 0); }
    int nextStatementNumber() { return ++m_statements; }

private:
    PGconn* m_conn;
    int m_statements = 0;
};

// A statement prepared once (PQprepare), run with text parameters
// (PQexecPrepared); bindings stay until replaced.
class PgStatement {
public:
    PgStatement(PgLink& link, const QString& sql, int parameters)
        : m_link(link), m_sql(sql), m_texts(parameters), m_values(parameters, nullptr)
    {
        m_name = "floor_" + QByteArray::number(link.nextStatementNumber());
        link.check(PQprepare(link.handle(), m_name.constData(), sql.toUtf8().constData(), parameters, nullptr), sql);
    }
    void bind(int i, const QByteArray& text)
    {
        m_texts[i - 1] = text;
        m_values[i - 1] = m_texts[i - 1].constData();
    }
    void bind(int i, qint64 value) { bind(i, QByteArray::number(value)); }
    void bindNull(int i) { m_values[i - 1] = nullptr; }
    PgRows run()
    {
        return m_link.check(PQexecPrepared(m_link.handle(), m_name.constData(), int(m_values.size()),
                                           m_values.constData(), nullptr, nullptr, 0),
                            m_sql);
    }

private:
    PgLink& m_link;
    QString m_sql;
    QByteArray m_name;
    QVector<QByteArray> m_texts;
    QVector<const char*> m_values;
};

inline QString pgIdent(const QString& name)
{
    return '"' + QString(name).replace('"', "\"\"") + '"';
}

// schema.table, both quoted.
inline QString pgTable(const QString& schema, const QString& table)
{
    return pgIdent(schema) + '.' + pgIdent(table);
}

// Drops the benchmark's schema when the benchmark ends, however it ends,
// once the store has let go of its connections. Declare it before anything
// that holds a table open.
class DropSchemaAtEnd {
public:
    explicit DropSchemaAtEnd(const Engine& engine) : m_engine(engine) {}
    ~DropSchemaAtEnd()
    {
        if (!m_engine.onServer)
            return;
        store::Session::instance().reset();
        try {
            PgLink link(m_engine.connection);
            link.exec("DROP SCHEMA IF EXISTS " + pgIdent(m_engine.schema) + " CASCADE");
            std::printf("\nDropped the schema %s.\n", qPrintable(m_engine.schema));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "The schema %s stays on the server: %s\n", qPrintable(m_engine.schema), e.what());
        }
    }
    DropSchemaAtEnd(const DropSchemaAtEnd&) = delete;
    DropSchemaAtEnd& operator=(const DropSchemaAtEnd&) = delete;

private:
    Engine m_engine;
};

} // namespace benchkit
