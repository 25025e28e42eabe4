#pragma once

// Other programs on the same tables: the hold_table helper opening a table
// through the store in a process of its own, an SQL shell fed statement by
// statement, and a plain connection.

#include "testkit/TestInstall.h"

#include "store/Catalogue.h"
#include "store/Schema.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/pg/PgLink.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <sqlite3.h>

#include <optional>

namespace testkit {

class OtherProgram {
public:
    OtherProgram(const QString& configPath, const QString& netDir) : m_config(configPath), m_netDir(netDir) {}
    explicit OtherProgram(const TestInstall& install) : OtherProgram(install.configPath(), install.netDir()) {}
    ~OtherProgram() { release(); }
    static QString path() { return QCoreApplication::applicationDirPath() + QStringLiteral("/hold_table"); }

    // Opens the table ("shared" or "exclusive") and holds it until release();
    // true once it holds it.
    bool hold(const QString& table, const QString& mode = QStringLiteral("shared"))
    {
        m_hold.start(path(), {m_config, m_netDir, table, mode});
        return m_hold.waitForReadyRead(60000) && m_hold.readLine().trimmed() == "ready";
    }
    void release()
    {
        if (m_hold.state() == QProcess::NotRunning)
            return;
        m_hold.closeWriteChannel();
        if (!m_hold.waitForFinished(10000))
            m_hold.kill();
    }
    // Opens the table and lets go at once: "opened" or "failed: <message>".
    QString tryOpen(const QString& table, bool exclusive = false) const
    {
        QProcess p;
        p.start(path(), {m_config, m_netDir, table, exclusive ? QStringLiteral("tryexclusive") : QStringLiteral("try")});
        return p.waitForFinished(60000) ? QString::fromUtf8(p.readAllStandardOutput()).trimmed()
                                        : QStringLiteral("no answer");
    }
    bool canOpen(const QString& table, bool exclusive = false) const { return tryOpen(table, exclusive) == "opened"; }

    // Changes a table as another program does, in a process of its own: the
    // sqlite3 shell on the table file, or psql on the store's server with
    // the alias's schema as search path. Quote mixed-case column names.
    // True when every statement worked.
    static bool runSql(const QString& tableFile, const QString& sql)
    {
        QByteArray script = sql.toUtf8() + '\n';
        QProcess p;
        if (TestInstall::onServer()) {
            const auto server = store::Session::instance().serverOf(catalogue::kAlias);
            if (!server)
                return false;
            script.prepend(QStringLiteral("SET search_path TO %1; SET lock_timeout = 5000;\n")
                               .arg(store::pg::quoteIdent(server->schema))
                               .toUtf8());
            p.start(QStringLiteral("psql"), {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"),
                                             QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"), server->connection});
        } else {
            script.prepend(".timeout 5000\n");
            p.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), tableFile});
        }
        if (!p.waitForStarted())
            return false;
        p.write(script);
        p.closeWriteChannel();
        if (!p.waitForFinished(30000)) {
            p.kill();
            return false;
        }
        if (p.exitCode() != 0)
            qWarning("runSql: %s", p.readAllStandardError().constData());
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

private:
    QString m_config, m_netDir;
    QProcess m_hold;
};

// Another program changing tables by SQL: the sqlite3 shell on a table file,
// or psql on the store's server with the installation's schema as search
// path. It reads statements as the test sends them and stops at the first
// that fails. To act while it holds a lock, send the statements that take
// it, then mark() and waitFor() the mark: the lock is held from then until
// more is sent or finish(). Scripts quote mixed-case column names, which
// both engines accept.
class SqlShell {
public:
    explicit SqlShell(const QString& file)
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        if (TestInstall::onServer()) {
            const auto server = store::Session::instance().serverOf(catalogue::kAlias);
            m_process.start(QStringLiteral("psql"), {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-t"),
                                                     QStringLiteral("-A"), QStringLiteral("-v"),
                                                     QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"),
                                                     server ? server->connection : QString()});
            if (server)
                send(QStringLiteral("SET search_path TO %1;").arg(store::pg::quoteIdent(server->schema)));
        } else {
            m_process.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), file});
        }
    }
    ~SqlShell() { finish(10000); }
    SqlShell(const SqlShell&) = delete;
    SqlShell& operator=(const SqlShell&) = delete;

    // Hands statements over; they are in the shell's input when this returns
    // (a QProcess writes only when its events run, or when told to wait).
    bool send(const QString& script)
    {
        if (!m_process.waitForStarted(30000))
            return false;
        m_process.write(script.toUtf8() + '\n');
        while (m_process.bytesToWrite() > 0)
            if (!m_process.waitForBytesWritten(30000))
                return false;
        return true;
    }
    // A line the shell prints once everything sent before it has run.
    bool mark(const QString& line)
    {
        return send((TestInstall::onServer() ? QStringLiteral("\\echo ") : QStringLiteral(".print ")) + line);
    }
    // Waits for a line the shell prints; false when it ends first.
    bool waitFor(const QString& line, int ms = 60000)
    {
        QDeadlineTimer deadline(ms);
        for (;;) {
            while (m_process.canReadLine()) {
                const QByteArray read = m_process.readLine();
                m_output += read;
                if (read.trimmed() == line.toUtf8())
                    return true;
            }
            if (deadline.hasExpired() || !m_process.waitForReadyRead(int(deadline.remainingTime())))
                return false;
        }
    }
    // Ends the input and waits for the shell to end: 0 when every statement
    // worked, -1 when it does not end in time (it is killed).
    int finish(int ms = 60000)
    {
        if (m_process.error() == QProcess::FailedToStart)
            return -1;
        if (m_process.state() != QProcess::NotRunning) {
            m_process.closeWriteChannel();
            if (!m_process.waitForFinished(ms)) {
                m_process.kill();
                m_process.waitForFinished(10000);
                m_output += m_process.readAll();
                return -1;
            }
        }
        m_output += m_process.readAll();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    // What it printed so far (errors included).
    QString output() const { return QString::fromUtf8(m_output).trimmed(); }

    // Runs a script to its end: 0 when every statement worked.
    static int run(const QString& file, const QString& script, QString* output = nullptr)
    {
        SqlShell shell(file);
        const int code = shell.send(script) ? shell.finish() : -1;
        if (output)
            *output = shell.output();
        return code;
    }

    // A script's first line: wait up to ms for other programs' locks.
    static QString waitForLocks(int ms)
    {
        return TestInstall::onServer() ? QStringLiteral("SET lock_timeout = %1;").arg(ms)
                                       : QStringLiteral(".timeout %1").arg(ms);
    }

private:
    QProcess m_process;
    QByteArray m_output;
};

// Another program's plain connection to a table: SQLite on the table file
// when the file exists (backups are files on either engine), else the
// server of the store's alias, with the alias's schema as search path.
// Waits up to 5 s on locks.
class RawDb {
public:
    explicit RawDb(const QString& path)
    {
        const auto server = QFileInfo::exists(path) ? std::nullopt : serverAlias();
        if (server) {
            m_table = store::sqlTableName(QFileInfo(path).fileName());
            m_pg = store::pg::connect(server->connection);
            store::pg::execPlain(m_pg.get(), QStringLiteral("SET search_path TO %1; SET lock_timeout = 5000")
                                                 .arg(store::pg::quoteIdent(server->schema)));
            return;
        }
        if (sqlite3_open(QFile::encodeName(path).constData(), &m_db) != SQLITE_OK)
            qWarning("RawDb: cannot open %s", qPrintable(path));
        sqlite3_busy_timeout(m_db, 5000);
    }
    ~RawDb() { sqlite3_close(m_db); }
    RawDb(const RawDb&) = delete;
    RawDb& operator=(const RawDb&) = delete;

    bool onServer() const { return bool(m_pg); }

    // False (with a warning) on an error. On the server, "BEGIN IMMEDIATE"
    // keeps other writers out of the table as it does on a file.
    bool exec(const QString& sql)
    {
        if (m_pg) {
            try {
                store::pg::execPlain(m_pg.get(), sql == QLatin1String("BEGIN IMMEDIATE")
                                                     ? QStringLiteral("BEGIN; LOCK TABLE %1 IN EXCLUSIVE MODE")
                                                           .arg(store::pg::quoteIdent(m_table))
                                                     : sql);
                return true;
            } catch (const store::StoreError& e) {
                qWarning("RawDb: %s: %s", qPrintable(sql), qPrintable(e.message()));
                return false;
            }
        }
        char* error = nullptr;
        if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &error) == SQLITE_OK)
            return true;
        qWarning("RawDb: %s: %s", qPrintable(sql), error);
        sqlite3_free(error);
        return false;
    }
    // The first value of the first row, in the store's stored form.
    QString text(const QString& sql)
    {
        if (m_pg) {
            try {
                const store::pg::Result r = store::pg::exec(m_pg.get(), sql);
                return r.rows() > 0 && !r.isNull(0, 0) ? r.stored(0, 0).toString() : QString();
            } catch (const store::StoreError& e) {
                return QStringLiteral("prepare failed: ") + e.message();
            }
        }
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK)
            return QStringLiteral("prepare failed: ") + QString::fromUtf8(sqlite3_errmsg(m_db));
        QString result;
        if (sqlite3_step(st) == SQLITE_ROW)
            result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
        return result;
    }

    // The first value of every row, as text ("" for a blank).
    QStringList column(const QString& sql)
    {
        QStringList out;
        if (m_pg) {
            try {
                const store::pg::Result r = store::pg::exec(m_pg.get(), sql);
                for (int i = 0; i < r.rows(); ++i)
                    out << r.stored(i, 0).toString();
            } catch (const store::StoreError& e) {
                qWarning("RawDb: %s: %s", qPrintable(sql), qPrintable(e.message()));
            }
            return out;
        }
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &st, nullptr) == SQLITE_OK)
            while (sqlite3_step(st) == SQLITE_ROW)
                out << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
        return out;
    }

private:
    static std::optional<store::ServerAlias> serverAlias()
    {
        try {
            return store::Session::instance().serverOf(catalogue::kAlias);
        } catch (const store::StoreError&) {
            return std::nullopt;
        }
    }
    sqlite3* m_db = nullptr;
    store::pg::ConnPtr m_pg;
    QString m_table;
};

} // namespace testkit
