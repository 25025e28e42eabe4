#pragma once

#include "store/Field.h"
#include "store/TableCopy.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <optional>

// The rows a user is restored from and into: one user's rows of the three
// user tables as a backup copy or the live tables hold them, and their
// values compared, shown and written the same way whichever engine or file
// they came from. Used by the restore (Restore.h) only.
namespace shell::rows {

using Row = QVector<QVariant>;

// The three tables a user is restored into, in the order they are written:
// the user row first, so that no permission row is ever left without it.
enum TableIndex { UserPrefTable, PermTable, UserDbTable, TableCount };
const QString& tableName(int table);
// The file name of a table's copy in a backup folder ("perm.db").
QString copyFileName(int table);

// A table's rows, live or from the backup, in the live table's field order.
struct Image {
    QVector<store::TableCopy::Column> columns;
    QStringList key;
    QVector<Row> rows;

    int col(const QString& name) const
    {
        for (int i = 0; i < columns.size(); ++i)
            if (columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
                return i;
        return -1;
    }
};

// Stored values compared, shown and written back by the field's type.
bool sameValue(store::FieldType type, const QVariant& a, const QVariant& b);
QString displayText(store::FieldType type, const QVariant& v);
void setStored(store::Field& field, const QVariant& v);
QString cellText(const QVariant& v); // a key value as text

// Who, DB and syncwellno: what makes a row's identity rather than its
// content, never compared and never written back over a live row.
bool isIdentityField(const QString& name);
// The content fields in which two rows of one layout differ.
QStringList differingFields(const Image& layout, const Row& a, const Row& b);
// Both absent, or the same in every field.
bool sameRow(const Image& layout, const std::optional<Row>& a, const std::optional<Row>& b);

// A live table's layout and rows: one user's when matchWho is given.
Image readLive(int table, const std::optional<QString>& matchWho = std::nullopt);
// The backup's copy of a table, in the live layout's field order. Raises
// RestoreError when it is missing, cannot be read, or has another layout.
Image readBackup(int number, int table, const Image& live);

// One user's rows of the three tables: the user row, and the permission and
// per-database rows by database code.
struct UserRows {
    std::optional<Row> pref;
    QMap<QString, Row> byDb[TableCount];

    std::optional<Row> row(int table, const QString& db) const
    {
        if (table == UserPrefTable)
            return pref;
        const auto it = byDb[table].constFind(db);
        return it == byDb[table].cend() ? std::nullopt : std::optional<Row>(*it);
    }
};

// The three images of one side (backup or live).
struct Side {
    Image images[TableCount];

    UserRows rowsOf(const QString& who) const;
};

// The database codes of DATABASE.DB now.
QStringList liveDatabases();
// Reads the live side (all rows, or one user's) and then the backup's copies
// against its layouts; raises RestoreError.
void readSides(int number, const std::optional<QString>& who, Side* live, Side* backup, QStringList* databases);

} // namespace shell::rows
