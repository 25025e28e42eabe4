#pragma once

// The workstation simulator (brisel-workstation) as a real second program on
// a test installation, with short warning times and fast polling. The guard
// ends the process on every path: SIGTERM first, so that it removes its
// log-in rows, then a kill.

#include "testkit/TestInstall.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>

namespace testkit {

class WorkstationProcess {
public:
    explicit WorkstationProcess(const TestInstall& install) : m_config(install.configPath()), m_netDir(install.netDir())
    {
    }
    ~WorkstationProcess() { stop(); }
    WorkstationProcess(const WorkstationProcess&) = delete;
    WorkstationProcess& operator=(const WorkstationProcess&) = delete;

    static QString path() { return QCoreApplication::applicationDirPath() + QStringLiteral("/brisel-workstation"); }

    // Starts WHO MACHINE DATABASE (and any extra options); warning minutes
    // count as seconds and the settings row is read every 100 ms.
    void start(const QStringList& args)
    {
        m_lines.clear();
        m_process.start(path(), QStringList{QStringLiteral("--config"), m_config, QStringLiteral("--netdir"),
                                            m_netDir, QStringLiteral("--seconds"), QStringLiteral("--poll"),
                                            QStringLiteral("100")}
                                    + args);
    }
    // Logs in and waits until it is ready; false when refused or silent.
    bool logIn(const QStringList& args)
    {
        start(args);
        return !waitForLine(QStringLiteral("ready")).isEmpty();
    }

    // The first line starting with prefix, read within ms; empty if none.
    QString waitForLine(const QString& prefix, int ms = 60000)
    {
        QDeadlineTimer deadline(ms);
        for (;;) {
            for (const QString& line : std::as_const(m_lines))
                if (line.startsWith(prefix))
                    return line;
            if (!readLines(deadline))
                return QString();
        }
    }
    QStringList lines() const { return m_lines; }

    // Waits for the program to end by itself; its exit code, or -1.
    int waitForExit(int ms = 60000)
    {
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(ms))
            return -1;
        collect();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    qint64 pid() const { return m_process.processId(); }

    // SIGTERM, as a shutdown sends it; a kill if it does not end in time.
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(30000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
        collect();
    }

private:
    void collect()
    {
        while (m_process.canReadLine())
            m_lines << QString::fromLocal8Bit(m_process.readLine()).trimmed();
        const QByteArray rest = m_process.readAllStandardOutput().trimmed();
        if (!rest.isEmpty())
            m_lines << QString::fromLocal8Bit(rest);
    }
    // Reads what has come; false when nothing more can come before the deadline.
    bool readLines(const QDeadlineTimer& deadline)
    {
        if (m_process.canReadLine()) {
            collect();
            return true;
        }
        if (m_process.state() == QProcess::NotRunning) {
            const qsizetype before = m_lines.size();
            collect();
            return m_lines.size() > before;
        }
        const int left = int(deadline.remainingTime());
        if (left <= 0)
            return false;
        m_process.waitForReadyRead(qMin(left, 200));
        collect();
        return true;
    }

    QString m_config, m_netDir;
    QProcess m_process;
    QStringList m_lines;
};

} // namespace testkit
