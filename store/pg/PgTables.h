#pragma once

#include "store/Schema.h"

#include <QString>
#include <QStringList>

typedef struct pg_conn PGconn;

namespace store::pg {

// A table of a schema as the server holds it: its actual name, its columns
// with their declared types (the column comments, else the server's type
// names) and its key, rowid left out.
struct TableLayout {
    QString name;
    TableDef def;
    QStringList serverTypes; // each column's type on the server, as def.columns
};

// Finds the table (name without regard to case, ".DB" ignored) and reads its
// layout. Raises StoreError when the schema has no such table, or the table
// lacks the rowid column the store needs.
TableLayout describeTable(PGconn* conn, const QString& schema, const QString& tableName, const QString& label);

struct PasswordHash {
    QString salt;
    QString hash; // empty: the table is not protected
};
PasswordHash tablePassword(PGconn* conn, const QString& schema, const QString& sqlName, const QString& label);

} // namespace store::pg
