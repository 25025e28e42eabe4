#pragma once

#include "store/Field.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

namespace store {

// A table file copied out of an installation (an exit backup), read whole
// without opening it as a table of the alias: no open-lock, no write.
struct TableCopy {
    struct Column {
        QString name;
        FieldType type = FieldType::Unknown;
        int size = 0; // maximum length of a text field, 0 otherwise
    };
    QVector<Column> columns;
    QStringList primaryKey;
    QVector<QVector<QVariant>> rows; // stored values in column order, in row order

    int indexOf(const QString& name) const; // without regard to case; -1 when absent
};

// Reads the table tableName ("USERPREF.DB") from the copied table file at
// path, in the stored form a table object's values have. Raises StoreError
// when the file is missing, is no table file or fails its integrity check,
// holds no such table, or is protected by a password that no registered
// password opens.
TableCopy readTableCopy(const QString& path, const QString& tableName);

} // namespace store
