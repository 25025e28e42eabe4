#pragma once

#include "store/Field.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>
#include <QVariant>
#include <QVariantList>

// The values of a SQLite table on their way to the server: each cell is read
// as the store reads it and turned into the form the server column takes
// (qint64 for booleans and integers, double, QString for texts, dates and
// times in the store's stored forms, QByteArray for bytes, or null).
namespace topg {

// One column of a table being copied.
struct SourceColumn {
    QString name;
    QString declaredType;
    store::FieldType type = store::FieldType::Unknown;
    int size = 0;       // characters of a VARCHAR(n), 0 otherwise
    bool key = false;   // part of the primary key: never null on the server
    bool bytes = false; // a bytea column on the server
};

SourceColumn sourceColumn(const QString& name, const QString& declaredType, bool key);

// A cell as SQLite holds it.
struct Cell {
    enum Kind { Null, Integer, Real, Text, Blob };
    Kind kind = Null;
    qint64 integer = 0;
    double real = 0;
    QByteArray bytes; // text (as stored, any bytes) or blob
};

// Where a cell lies, for the messages.
struct Place {
    QString table;
    qint64 rowid = 0;
};

// The cell's value for the server column. Raises StoreError naming the
// table, the rowid and the field when the cell holds something the field
// cannot take (text that is no date, a text that is no UTF-8, no value in a
// key field, ...).
QVariant serverValue(const SourceColumn& column, const Cell& cell, const Place& place);

// Appends a value as one field of a COPY line in text format.
void appendCopyField(QByteArray& line, const QVariant& value);

// SHA-256 over the rows of a table in rowid order, each row in one canonical
// form: the values read from SQLite after serverValue and the values read
// back from the server through Result::stored() give the same bytes.
class RowDigest {
public:
    void addRow(qint64 rowid, const QVariantList& values);
    qint64 rows() const { return m_rows; }
    QString hex() const;

private:
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
    QByteArray m_row;
    qint64 m_rows = 0;
};

} // namespace topg
