#pragma once

// What the fuzz targets share: a scratch installation for the store (one
// alias, a network control directory) made once per process, and a check
// that an error the store raises says which table it is about.

#include "store/Connection.h"
#include "store/Session.h"
#include "store/StoreError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <sqlite3.h>

namespace fuzz {

inline const QString kAlias = QStringLiteral("FUZZ");

// In memory where the system has a memory file system: the targets write
// table files thousands of times, and a disk's syncs would set the pace.
inline QString scratchTemplate()
{
    const QString shm = QStringLiteral("/dev/shm");
    return QDir(shm).exists() ? shm + QStringLiteral("/brisel-fuzz-XXXXXX") : QString();
}

// Made on first use, removed when the fuzzer exits.
struct Scratch {
    QTemporaryDir root{scratchTemplate()};
    QString dataDir = root.filePath(QStringLiteral("data"));
    QString netDir = root.filePath(QStringLiteral("net"));
    QString configPath = root.filePath(QStringLiteral("store.ini"));

    Scratch()
    {
        QDir().mkpath(dataDir);
        QDir().mkpath(netDir);
        QFile config(configPath);
        if (!config.open(QIODevice::WriteOnly))
            std::abort();
        config.write(QStringLiteral("[%1]\nPATH=%2\n").arg(kAlias, dataDir).toUtf8());
    }
};

inline Scratch& scratch()
{
    static Scratch s;
    return s;
}

inline void pointStoreAtScratch()
{
    store::Session& session = store::Session::instance();
    session.setConfigPath(scratch().configPath);
    session.setNetFileDir(scratch().netDir);
    session.setBusyTimeout(0);
}

// A store error must name its table: a bare failure would leave the
// supervisor guessing. Anything else is a fault the fuzzer should report.
inline void checkNamesTable(const store::StoreError& error)
{
    if (!error.message().startsWith(QLatin1String("Table ")) && !error.message().startsWith(QLatin1String("Key violation: table "))) {
        std::fprintf(stderr, "store error without its table: %s\n", error.what());
        std::abort();
    }
}

// Runs SQL on a raw connection, as another program would.
inline void execRaw(sqlite3* db, const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        std::fprintf(stderr, "setting up the table failed: %s (%s)\n", message ? message : "?", sql);
        sqlite3_free(message);
        std::abort();
    }
}

// Forgets this process's connection to a table file and deletes the file.
inline void dropTableFile(const QString& path)
{
    store::Connection::closeIdle();
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
}

} // namespace fuzz
