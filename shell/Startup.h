#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Start-up: the network control directory from NETDIR.INI, the store-wide
// settings, then the main window and the event loop. Each step takes the
// program's directory, so that tests can run them on a folder of their own.
namespace shell {

// Reads the network control directory. When it is not set, asks whether to
// run the set-up program, starts it on Yes (without waiting) and returns
// false: the program must then end. On success netDir holds the value.
bool checkNetDir(const QString& programDir, QString* netDir);

// The record store's settings: the network control directory, the private
// directory (created, with an error box when that fails), the table
// passwords, and the store configuration beside the program unless the
// environment names another. Returns the private directory.
QString configureStore(const QString& programDir, const QString& netDir);
// Moves journal rows that a crash left in the tables' outboxes to merge.db;
// runs before anything else touches the tables.
void recoverJournalRows();

// The private directory: <programDir>/priv/PRBrisel.
QString privateDirPath(const QString& programDir);

// The whole start-up and run; returns the program's exit code. Needs the
// application object.
int runBrisel(const QString& programDir);

// The set-up program beside Brisel ("netdir").
QString setupProgramPath(const QString& programDir);

// Tests: while a LaunchRecorder is alive, programs are not started; each
// start is recorded as the program path followed by its arguments.
class LaunchRecorder {
public:
    LaunchRecorder();
    ~LaunchRecorder();
    QList<QStringList> launched() const;
    LaunchRecorder(const LaunchRecorder&) = delete;
    LaunchRecorder& operator=(const LaunchRecorder&) = delete;
};

} // namespace shell
