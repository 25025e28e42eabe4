#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace store {

// What a table file holds, for the programs that make installations (the demo
// installer, tests, benchmarks). The running utility never creates tables.
struct ColumnDef {
    QString name;
    QString declaredType; // VARCHAR(n), TEXT, BOOLEAN, SMALLINT, INTEGER, REAL, DATE, TIME, DATETIME
};

struct TableDef {
    QString name;              // e.g. "USERPREF.DB"
    QList<ColumnDef> columns;
    QStringList primaryKey;    // empty for tables walked in row order
};

// Creates the table file for def in directory dir (WAL mode). A non-empty
// password protects the table: it then opens only when a registered password
// matches. Raises StoreError if the file exists already.
void createTableFile(const QString& dir, const TableDef& def, const QString& password = QString());

// The salted hash stored for a protected table.
QString passwordHash(const QString& salt, const QString& password);

// The SQL name of the table inside its file: the file's base name in lower
// case ("USERPREF.DB" -> userpref).
QString sqlTableName(const QString& tableName);

} // namespace store
