#pragma once

// bench_cleanup's floors: the exit-time clean-up done without the store, in
// one transaction with prepared statements, on SQLite files or on a server.

#include "BenchKit.h"

#include "store/Catalogue.h"

#include <QStringList>

#include <functional>

namespace cleanupbench {

struct Counts {
    qint64 userDb, perm, journal;
};

class Floor {
public:
    virtual ~Floor() = default;
    // Empties USERDB.DB, PERM.DB and the journal.
    virtual void clearPairRows() = 0;
    virtual Counts counts() = 0;
    // The clean-up; returns its time in seconds, connecting included.
    virtual double cleanUp() = 0;
};

// The columns and values of a row the clean-up makes; values name the
// engine's parameters 1 (DB), 2 (Who) and 3 (syncwellno).
struct NewRow {
    QStringList columns; // quoted
    QStringList values;
};

// A USERDB.DB row: flags off, no visits, the default fonts.
inline NewRow newUserDbRow(const QString& no, const std::function<QString(int)>& parameter)
{
    const QStringList booleans = benchkit::booleanColumns(catalogue::kUserDb);
    QStringList columns = booleans;
    columns << "DB" << "Who" << "ntimes";
    for (const char* font : {"FontData", "FontLabel", "FontGrid"})
        for (const char* part : {"Size", "Color", "Style", "Name"})
            columns << QString(font) + part;
    columns << "syncwellno";
    QStringList values(booleans.size(), no);
    values << parameter(1) << parameter(2) << "0" << "9" << "0" << "0" << "'Arial'" << "9" << "0" << "0" << "'Arial'"
           << "9" << "0" << "0" << "'Arial'" << parameter(3);
    for (QString& c : columns)
        c = '"' + c + '"';
    return {columns, values};
}

// A PERM.DB row: every right granted.
inline NewRow newPermRow(const QString& yes, const std::function<QString(int)>& parameter)
{
    QStringList columns = benchkit::booleanColumns(catalogue::kPerm);
    QStringList values(columns.size(), yes);
    columns << "DB" << "Who" << "syncwellno";
    values << parameter(1) << parameter(2) << parameter(3);
    for (QString& c : columns)
        c = '"' + c + '"';
    return {columns, values};
}

} // namespace cleanupbench
