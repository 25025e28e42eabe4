#pragma once

// bench_store's floors: its work done without the store, in one transaction
// with prepared statements, on SQLite files or on a server.

#include <QByteArray>
#include <QString>
#include <QVector>

namespace storebench {

struct Key {
    QString db;
    QString who;
};

class Floor {
public:
    virtual ~Floor() = default;
    // Reads every contact row in rowid order; returns the characters of
    // their owners (Who).
    virtual qint64 walk() = 0;
    // Looks up each key's USERPREF.DB row (by Who) and PERM.DB row (by DB
    // and Who); returns the rows found.
    virtual int lookups(const QVector<Key>& keys) = 0;
    // Sets City of the first n contact rows (rowid order), each followed by
    // a journal row.
    virtual void edit(int n, const QByteArray& city) = 0;
    // The same, crash-safe as the store is on SQLite files: the journal rows
    // go into an outbox of the changed file in the edits' transaction, and
    // move to the journal after. Only table files need it.
    virtual void editCrashSafe(int, const QByteArray&) {}

    // Keeps the City of the first n contact rows and the journal's length,
    // and puts both back: every run of edits starts from the same rows.
    virtual void keepCities(int n) = 0;
    virtual void putCitiesBack() = 0;

    // For the checks, outside the timings.
    virtual qint64 rowsWithCity(const QString& city) = 0;
    virtual qint64 journalRows() = 0;
};

} // namespace storebench
