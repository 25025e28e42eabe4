#pragma once

#include "store/Table.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

// A stand-in for the Kontiva client of one workstation: logs users in as the
// clients do, holds the contact table open while it runs, obeys the
// force-off row and logs out again.
class Workstation : public QObject {
    Q_OBJECT
public:
    struct Options {
        QStringList who;       // one user ID per simulated log-in
        QStringList machines;  // the machine of each log-in
        QString database;
        int pollMs = 2000;
        bool warnInSeconds = false; // the warning minutes count as seconds
    };

    explicit Workstation(const Options& options, QObject* parent = nullptr);
    ~Workstation() override;

    // Logs everybody in, or nobody: false with the reason when refused.
    bool logIn(QString* why);
    // Removes this workstation's log-in rows and lets go of the tables.
    void logOut();
    // Polls the settings row from now on; finished() follows a forced log-out.
    void startPolling();

signals:
    void message(const QString& line);
    void finished();

private:
    void poll();
    void writeLogIn(int index);
    QString forcedReason(); // empty unless users are forced off

    Options m_options;
    store::Table m_settings;
    store::Table m_contact;
    store::Table m_userPref;
    store::Table m_userDb;
    store::Table m_usersOn;
    QTimer m_poll;
    QTimer m_warning;
    bool m_loggedIn = false;
};
