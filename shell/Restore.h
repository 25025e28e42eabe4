#pragma once

#include "store/Field.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <memory>
#include <optional>
#include <stdexcept>

// Restoring one user from the exit backup: the user's USERPREF.DB row and
// PERM.DB and USERDB.DB rows, as the backup folder "backup1" or "backup2"
// holds them, put back into the live tables. Plain data in and out, for the
// restore window and the command line alike.
namespace shell {

// Why a backup cannot be read or a restore cannot run: message is the
// program's sentence for the supervisor, detail the store's words (which
// file or table, what went wrong), empty when there is nothing to add.
class RestoreError : public std::runtime_error {
public:
    RestoreError(const QString& message, const QString& detail = QString());
    QString message;
    QString detail;
};

enum class UserStatus { Same, Changed, Deleted };

struct BackupUser {
    QString who;
    QString fullName;
    UserStatus status = UserStatus::Same;
};

// One of the two backup folders.
struct BackupFolder {
    int number = 0;     // 1 or 2
    QString path;
    bool exists = false; // the folder holds a copy of the user table
    QDateTime written;   // when that copy was written
    QString problem;     // why the users cannot be listed; empty when they can
    QString detail;      // the store's words for the problem
    QList<BackupUser> users; // in key order
};

// The folder path of backup number 1 or 2 in the alias directory.
QString backupFolderPath(int number);
// Both folders, 1 then 2, each user marked deleted since the backup or
// changed when restoring would change any of its rows.
QList<BackupFolder> listBackups();
// "deleted since", "changed" or "" for a status.
QString statusText(UserStatus status);
// The folders as text lines: each folder with its time or its problem, then
// its users, one a line, with their status.
QStringList backupLines(const QList<BackupFolder>& folders);

// One line of the side-by-side view: an item of a row as the backup holds
// it and as the table holds it now. The password is never shown, only
// whether it differs.
struct CompareLine {
    QString section; // "User", "Permissions in GEN", "Settings in GEN"
    QString item;    // "Full name", "Supervisor", a flag's caption, a field name
    QString backup;
    QString now;
    bool differs = false;
};

// A row restore writes back (or would).
struct RestoredRow {
    enum Kind { Added, Changed };
    QString table; // "USERPREF.DB", "PERM.DB", "USERDB.DB"
    QString db;    // the database code; empty for the user row
    Kind kind = Changed;
    QStringList fields; // the fields written back, for a changed row
};

struct RestoreResult {
    QList<RestoredRow> rows;
    QStringList leftOut; // database codes of backup rows whose database no longer exists
    bool dryRun = false;
    // The result as text lines: one per row, then the databases left out.
    QStringList lines() const;
};

// One user's rows in the backup and in the live tables, read together. The
// live rows read here are what restore() expects to find: a row another
// program changed since is never overwritten.
class UserRestore {
public:
    // Reads backup number 1 or 2 and the live tables. Raises RestoreError
    // when a backup table is missing, damaged or of another layout than the
    // live one, when the backup has no such user, or when a live table
    // cannot be read.
    UserRestore(int backupNumber, const QString& who);
    ~UserRestore();
    UserRestore(const UserRestore&) = delete;
    UserRestore& operator=(const UserRestore&) = delete;

    const QString& who() const;
    bool deletedSince() const; // no USERPREF.DB row for the user now
    // A warning when the user's full name now differs from the backup's:
    // the ID may belong to another person since, whose row a restore would
    // overwrite. Empty when the names agree or the user was deleted.
    QString otherPersonWarning() const;
    // Both sides, item by item; rows only one side has show "(no row)".
    QList<CompareLine> compare() const;
    // The lines of compare() that differ, one a line:
    // "Permissions in GEN: Access: Yes -> No".
    QStringList differenceLines() const;
    // What restoring would write, read from the rows as shown.
    RestoreResult plan() const;
    // Writes the rows of plan() and journals each (2 added, 6 changed).
    // With dryRun nothing is opened or written. Raises RestoreError, before
    // anything is written, when a table cannot be opened, the user ID was
    // taken by a new user meanwhile, or another program changed one of the
    // rows since they were read; and when a write fails, with what was
    // restored before it.
    RestoreResult restore(bool dryRun = false);

    struct Data;

private:
    std::unique_ptr<Data> d;
};

} // namespace shell
