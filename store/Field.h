#pragma once

#include <QString>
#include <QVariant>

namespace store {

class Table;
struct ColumnInfo;

// Field types come from the declared column types of the table file:
// VARCHAR(n)/CHAR(n) text of at most n characters, TEXT memo, BOOLEAN,
// SMALLINT, INTEGER, REAL/FLOAT/DOUBLE, DATE, TIME, DATETIME/TIMESTAMP.
enum class FieldType { String, Memo, Boolean, SmallInt, Integer, Float, Date, Time, DateTime, Unknown };

QString fieldTypeName(FieldType type);

// A value of one of the four kinds (text, integer, boolean, day count) in the
// form a field of that type stores it; the empty text and an invalid value
// give the blank (NULL).
QVariant storedValue(FieldType type, const QVariant& value);

// A stored value as snapshot() gives it, read as Field::asDateTime reads a
// field of that type (blank: day 0); false when it is no valid date or time.
bool storedValueDays(const QVariant& stored, FieldType type, double* days);
// A stored value read as Field::asBoolean reads it (blank: false); false in
// *ok when it is neither True nor False.
bool storedValueBoolean(const QVariant& stored, bool* ok = nullptr);

// A field of a table object's current row. Fields belong to their table
// object and stay valid while it lives; reading a field of a closed table or
// writing one outside edit or insert state raises StoreError.
//
// A blank field (NULL) reads as the empty text, false, 0 or day 0.
class Field {
public:
    QString fieldName() const;
    FieldType dataType() const;
    int index() const;       // position in the row, from 0
    int size() const;        // maximum length of a text field, 0 otherwise

    bool isNull() const;
    QVariant value() const;  // the stored value (QVariant() when blank)

    QString asString() const;    // booleans "True"/"False"; dates yyyy-MM-dd; times HH:mm:ss; blank ""
    int asInteger() const;
    qint64 asLargeInt() const;
    bool asBoolean() const;
    double asFloat() const;
    double asDateTime() const;   // day count (see DayCount.h); dates whole, times only the fraction

    void setAsString(const QString& text);
    void setAsInteger(qint64 value);
    void setAsBoolean(bool value);
    void setAsFloat(double value);
    void setAsDateTime(double days);
    void setValue(const QVariant& value); // any of the kinds above, converted to the field's type
    void clear();

private:
    friend class Table;
    Field(Table* table, int index) : m_table(table), m_index(index) {}
    void assign(const QVariant& value);
    const ColumnInfo& column() const;
    QString rowText() const; // names the current row in error messages
    Table* m_table;
    int m_index;
};

} // namespace store
