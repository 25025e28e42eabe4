#include "store/sqlite/SqliteConnection.h"

#include "store/FileModes.h"
#include "store/Session.h"
#include "store/StoreError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

namespace store {

bool backupTableFile(const QString& source, const QString& tableName, const QString& destinationPath)
{
    if (!QFileInfo(source).isFile())
        return false;
    // A copy that cannot start is skipped: the destination is a folder, or
    // its folder cannot be written (another supervisor's backup of today).
    const QFileInfo destination(destinationPath);
    if (destination.exists() && !destination.isFile())
        return false;
    if (!QFileInfo(destination.absolutePath()).isWritable())
        return false;
    const QString temp = destinationPath + QLatin1String(".part");
    QFile::remove(temp);
    sqlite3* src = nullptr;
    sqlite3* dst = nullptr;
    auto cleanup = [&] {
        sqlite3_close_v2(src);
        sqlite3_close_v2(dst);
        src = dst = nullptr;
    };
    auto failWith = [&](sqlite3* db, const QString& what) {
        const QString message = QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory");
        cleanup();
        QFile::remove(temp);
        throw StoreError(QStringLiteral("Table %1 could not be backed up to %2: %3 (%4).")
                             .arg(tableName, QDir::toNativeSeparators(destinationPath), what, message));
    };
    if (sqlite3_open_v2(source.toUtf8().constData(), &src, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        cleanup();
        return false; // the table file cannot be read
    }
    sqlite3_busy_timeout(src, Session::instance().busyTimeout());
    // The copy gets its table's mode before any data goes in.
    const int mode = modeOf(source);
    createFile(temp, mode >= 0 ? unsigned(mode) : kFileMode);
    if (sqlite3_open_v2(temp.toUtf8().constData(), &dst, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        cleanup();
        QFile::remove(temp);
        return false; // the copy cannot be created
    }
    sqlite3_backup* backup = sqlite3_backup_init(dst, "main", src, "main");
    if (!backup)
        failWith(dst, QStringLiteral("the copy cannot be started"));
    int rc;
    do {
        rc = sqlite3_backup_step(backup, -1);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
            sqlite3_sleep(20);
    } while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE)
        failWith(dst, QStringLiteral("the copy failed"));
    // The copy is one self-contained file, not a WAL pair.
    sqlite3_exec(dst, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    cleanup();
    QFile::remove(destinationPath);
    if (!QFile::rename(temp, destinationPath)) {
        QFile::remove(temp);
        throw StoreError(QStringLiteral("Table %1 could not be backed up: %2 cannot be written.")
                             .arg(tableName, QDir::toNativeSeparators(destinationPath)));
    }
    return true;
}

} // namespace store
