#pragma once

#include "store/StoreError.h"

#include <QString>
#include <QStringList>
#include <QVector>

// Moving an installation onto a server: every table file of a SQLite data
// folder is copied, row for row with its rowids and its password, into a
// schema of a PostgreSQL database, in one server transaction, and checked
// after copying by row count and checksum.
namespace topg {

struct Options {
    QString dataDir;    // the SQLite installation's data folder
    QString connection; // libpq connection string
    QString schema = QStringLiteral("norda");
    bool replace = false; // tables of the schema that hold rows are dropped and made again
};

struct TableReport {
    QString file;     // "contact.db"
    QString table;    // the server table, "contact"
    qint64 rows = 0;
    QString checksum; // SHA-256 (hex) of the rows; the same read from the file and from the server
    bool passwordProtected = false;
};

struct Report {
    QVector<TableReport> tables;
    QStringList notes; // what was left behind, for the user to know
    qint64 totalRows() const;
};

// The schema holds some of the tables with rows, and replacing was not asked.
class SchemaInUse : public store::StoreError {
public:
    using StoreError::StoreError;
};

// Copies the installation. Raises store::StoreError with a message for the
// user; then nothing of the copy stays on the server. The schema is refused
// when it holds any of the tables with rows, unless options.replace.
Report copyInstallation(const Options& options);

// The tables among names (server names, "contact", ...) that exist in the
// schema; empty when the schema does not exist. Raises StoreError when the
// server cannot be asked.
QStringList existingTables(const QString& connection, const QString& schema, const QStringList& names);

} // namespace topg
