#include "store/Field.h"

#include "store/DayCount.h"
#include "store/StoreError.h"
#include "store/TablePrivate.h"

#include <cmath>
#include <limits>

namespace store {

QString fieldTypeName(FieldType type)
{
    switch (type) {
    case FieldType::String: return QStringLiteral("text");
    case FieldType::Memo: return QStringLiteral("memo");
    case FieldType::Boolean: return QStringLiteral("boolean");
    case FieldType::SmallInt: return QStringLiteral("small integer");
    case FieldType::Integer: return QStringLiteral("integer");
    case FieldType::Float: return QStringLiteral("number");
    case FieldType::Date: return QStringLiteral("date");
    case FieldType::Time: return QStringLiteral("time");
    case FieldType::DateTime: return QStringLiteral("date-time");
    case FieldType::Unknown: break;
    }
    return QStringLiteral("unknown");
}

namespace {

const QString kDateFormat = QStringLiteral("yyyy-MM-dd");
const QString kTimeFormat = QStringLiteral("HH:mm:ss.zzz");

// Reads a stored date, time or date-time (text in the store's formats, or a
// day count stored as a number) as a day count.
bool storedToDays(const QVariant& v, FieldType type, double* days)
{
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::LongLong) {
        *days = v.toDouble();
        return isStorableDayCount(*days);
    }
    const QString text = v.toString().trimmed();
    if (type == FieldType::Time) {
        QTime t = QTime::fromString(text, kTimeFormat);
        if (!t.isValid())
            t = QTime::fromString(text, QStringLiteral("HH:mm:ss"));
        if (!t.isValid())
            t = QTime::fromString(text, QStringLiteral("HH:mm"));
        if (!t.isValid())
            return false;
        *days = daysFromTime(t);
        return true;
    }
    const QDate date = QDate::fromString(text.left(10), kDateFormat);
    if (!date.isValid())
        return false;
    QTime time(0, 0);
    if (text.size() > 10) {
        const QString rest = text.mid(11);
        time = QTime::fromString(rest, kTimeFormat);
        if (!time.isValid())
            time = QTime::fromString(rest, QStringLiteral("HH:mm:ss"));
        if (!time.isValid())
            return false;
    }
    *days = daysFromDateTime(QDateTime(date, time));
    return true;
}

// Digits written by hand: the calendar's general formatter costs more than
// the rest of a journal row together.
char* putNumber(char* out, int value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

QString storedDate(const QDate& date)
{
    if (!date.isValid() || date.year() < 1 || date.year() > 9999)
        return date.toString(kDateFormat);
    char text[10];
    char* p = putNumber(text, date.year(), 4);
    *p++ = '-';
    p = putNumber(p, date.month(), 2);
    *p++ = '-';
    putNumber(p, date.day(), 2);
    return QString::fromLatin1(text, 10);
}

QString storedTime(const QTime& time)
{
    if (!time.isValid())
        return time.toString(kTimeFormat);
    char text[12];
    char* p = putNumber(text, time.hour(), 2);
    *p++ = ':';
    p = putNumber(p, time.minute(), 2);
    *p++ = ':';
    p = putNumber(p, time.second(), 2);
    *p++ = '.';
    putNumber(p, time.msec(), 3);
    return QString::fromLatin1(text, 12);
}

QVariant daysToStored(double days, FieldType type)
{
    switch (type) {
    case FieldType::Date: return storedDate(dateFromDays(days));
    case FieldType::Time: return storedTime(timeFromDays(days));
    case FieldType::DateTime: return storedDate(dateFromDays(days)) + QLatin1Char(' ') + storedTime(timeFromDays(days));
    default: return days;
    }
}

bool parseBoolean(const QString& text, bool* value)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("t") || t == QLatin1String("yes") || t == QLatin1String("y")
        || t == QLatin1String("1")) {
        *value = true;
        return true;
    }
    if (t == QLatin1String("false") || t == QLatin1String("f") || t == QLatin1String("no") || t == QLatin1String("n")
        || t == QLatin1String("0")) {
        *value = false;
        return true;
    }
    return false;
}

// A stored boolean: a number (non-zero is true) or one of the words above.
bool storedToBoolean(const QVariant& v, bool* value)
{
    if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Double) {
        *value = v.toDouble() != 0;
        return true;
    }
    return parseBoolean(v.toString(), value);
}

// The largest magnitude a double converts to qint64 without overflow.
constexpr double kLargestWhole = 9.2e18;

bool isDateKind(FieldType t)
{
    return t == FieldType::Date || t == FieldType::Time || t == FieldType::DateTime;
}

} // namespace

QVariant storedValue(FieldType type, const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return QVariant();
    const bool text = value.typeId() == QMetaType::QString;
    if (text && value.toString().isEmpty())
        return QVariant();
    switch (type) {
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::DateTime:
        return text ? value : daysToStored(value.toDouble(), type);
    case FieldType::Boolean: return qint64(value.toBool() ? 1 : 0);
    case FieldType::SmallInt:
    case FieldType::Integer: return text ? value : QVariant(value.toLongLong());
    case FieldType::Float: return text ? value : QVariant(value.toDouble());
    default: return value.toString();
    }
}

bool storedValueDays(const QVariant& stored, FieldType type, double* days)
{
    if (!stored.isValid() || stored.isNull()) {
        *days = 0.0;
        return true;
    }
    return storedToDays(stored, isDateKind(type) ? type : FieldType::DateTime, days);
}

bool storedValueBoolean(const QVariant& stored, bool* ok)
{
    bool value = false;
    const bool parsed = !stored.isValid() || stored.isNull() || storedToBoolean(stored, &value);
    if (ok)
        *ok = parsed;
    return parsed && value;
}

// Access to the owning table's private parts.
#define TP (m_table->d)

// A field outlives the opening of its table: once the table is closed (or
// reopened on another table with fewer columns) it raises instead of reading
// freed column data.
const ColumnInfo& Field::column() const
{
    TP->requireActive();
    const auto& cols = TP->conn->columns();
    if (m_index >= cols.size())
        TP->fail(QStringLiteral("there is no field number %1.").arg(m_index));
    return cols[m_index];
}

QString Field::fieldName() const { return column().name; }
FieldType Field::dataType() const { return column().type; }
int Field::index() const { return m_index; }
int Field::size() const { return dataType() == FieldType::String ? column().size : 0; }

QVariant Field::value() const
{
    column();
    return m_table->rawValue(m_index);
}

bool Field::isNull() const
{
    column();
    return TP->isNullAt(m_index);
}

QString Field::asString() const
{
    const QVariant v = value();
    if (!v.isValid() || v.isNull())
        return QString();
    const FieldType type = dataType();
    switch (type) {
    case FieldType::Boolean: {
        // Text another program stored that is no boolean shows as it is,
        // like a date that is no date; asBoolean reports it.
        bool b = false;
        if (!storedToBoolean(v, &b))
            return v.toString();
        return b ? QStringLiteral("True") : QStringLiteral("False");
    }
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::DateTime: {
        double days;
        if (!storedToDays(v, type, &days))
            return v.toString();
        if (type == FieldType::Date)
            return dateFromDays(days).toString(kDateFormat);
        if (type == FieldType::Time)
            return timeFromDays(days).toString(QStringLiteral("HH:mm:ss"));
        return dateFromDays(days).toString(kDateFormat) + QLatin1Char(' ')
               + timeFromDays(days).toString(QStringLiteral("HH:mm:ss"));
    }
    case FieldType::Float:
        return QString::number(v.toDouble(), 'g', 15);
    default:
        return v.toString();
    }
}

qint64 Field::asLargeInt() const
{
    const QVariant v = value();
    if (!v.isValid() || v.isNull())
        return 0;
    switch (v.typeId()) {
    case QMetaType::LongLong: return v.toLongLong();
    case QMetaType::Double: {
        const double d = v.toDouble();
        if (!std::isfinite(d) || std::fabs(d) > kLargestWhole)
            TP->fail(QStringLiteral("%1 in field %2 of %3 is not a whole number within range.")
                         .arg(v.toString(), fieldName(), rowText()));
        return std::llround(d);
    }
    default: break;
    }
    if (dataType() == FieldType::Boolean)
        return asBoolean() ? 1 : 0;
    bool ok = false;
    const qint64 n = v.toString().trimmed().toLongLong(&ok);
    if (!ok)
        TP->fail(QStringLiteral("\"%1\" in field %2 of %3 is not a whole number.").arg(v.toString(), fieldName(), rowText()));
    return n;
}

int Field::asInteger() const
{
    const qint64 n = asLargeInt();
    if (n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
        TP->fail(QStringLiteral("%1 in field %2 of %3 is too large.").arg(n).arg(fieldName(), rowText()));
    return int(n);
}

bool Field::asBoolean() const
{
    const QVariant v = value();
    if (!v.isValid() || v.isNull())
        return false;
    bool b = false;
    if (!storedToBoolean(v, &b))
        TP->fail(QStringLiteral("\"%1\" in field %2 of %3 is not True or False.").arg(v.toString(), fieldName(), rowText()));
    return b;
}

double Field::asFloat() const
{
    const QVariant v = value();
    if (!v.isValid() || v.isNull())
        return 0.0;
    if (isDateKind(dataType()))
        return asDateTime();
    if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Double)
        return v.toDouble();
    bool ok = false;
    const double n = v.toString().trimmed().toDouble(&ok);
    if (!ok)
        TP->fail(QStringLiteral("\"%1\" in field %2 of %3 is not a number.").arg(v.toString(), fieldName(), rowText()));
    return n;
}

double Field::asDateTime() const
{
    const QVariant v = value();
    if (!v.isValid() || v.isNull())
        return 0.0;
    const FieldType type = isDateKind(dataType()) ? dataType() : FieldType::DateTime;
    double days;
    if (!storedToDays(v, type, &days))
        TP->fail(QStringLiteral("\"%1\" in field %2 of %3 is not a valid %4.")
                     .arg(v.toString(), fieldName(), rowText(), fieldTypeName(type)));
    return days;
}

QString Field::rowText() const
{
    // The row as the supervisor finds it: by its key, else by its number.
    if (TP->state == TableState::Insert)
        return QStringLiteral("the new row");
    QStringList key;
    for (int k : TP->conn->keyColumns())
        key << m_table->rawValue(k).toString();
    if (!key.isEmpty() && !key.join(QString()).trimmed().isEmpty())
        return QStringLiteral("the row with key %1").arg(key.join(QStringLiteral(", ")));
    return QStringLiteral("row number %1").arg(m_table->rowId());
}

void Field::assign(const QVariant& v)
{
    TP->buffer.values[m_index] = v;
    TP->dirty[m_index] = true;
    TP->notifyField(m_index);
}

void Field::setAsString(const QString& text)
{
    TP->requireActive();
    if (TP->state != TableState::Edit && TP->state != TableState::Insert)
        TP->fail(QStringLiteral("field %1 cannot be changed: the row is not being edited.").arg(fieldName()));
    const FieldType type = dataType();
    if (text.isEmpty() && type != FieldType::String && type != FieldType::Memo) {
        assign(QVariant());
        return;
    }
    switch (type) {
    case FieldType::String: {
        // The declared size counts characters, not UTF-16 units.
        const int max = size();
        const qsizetype length = max > 0 ? text.toUcs4().size() : 0;
        if (max > 0 && length > max)
            TP->fail(QStringLiteral("the value for field %1 is %2 characters long; the field holds at most %3.")
                         .arg(fieldName())
                         .arg(length)
                         .arg(max));
        assign(text.isEmpty() ? QVariant() : QVariant(text));
        return;
    }
    case FieldType::Memo:
    case FieldType::Unknown:
        assign(text.isEmpty() ? QVariant() : QVariant(text));
        return;
    case FieldType::Boolean: {
        bool b = false;
        if (!parseBoolean(text, &b))
            TP->fail(QStringLiteral("\"%1\" is not True or False (field %2).").arg(text, fieldName()));
        assign(qint64(b ? 1 : 0));
        return;
    }
    case FieldType::SmallInt:
    case FieldType::Integer: {
        bool ok = false;
        const qint64 n = text.trimmed().toLongLong(&ok);
        if (!ok)
            TP->fail(QStringLiteral("\"%1\" is not a whole number (field %2).").arg(text, fieldName()));
        setAsInteger(n);
        return;
    }
    case FieldType::Float: {
        bool ok = false;
        const double n = text.trimmed().toDouble(&ok);
        if (!ok)
            TP->fail(QStringLiteral("\"%1\" is not a number (field %2).").arg(text, fieldName()));
        assign(n);
        return;
    }
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::DateTime: {
        double days;
        if (!storedToDays(text, type, &days))
            TP->fail(QStringLiteral("\"%1\" is not a valid %2 (field %3).").arg(text, fieldTypeName(type), fieldName()));
        assign(daysToStored(days, type));
        return;
    }
    }
}

void Field::setAsInteger(qint64 value)
{
    TP->requireActive();
    if (TP->state != TableState::Edit && TP->state != TableState::Insert)
        TP->fail(QStringLiteral("field %1 cannot be changed: the row is not being edited.").arg(fieldName()));
    switch (dataType()) {
    case FieldType::SmallInt:
        if (value < -32768 || value > 32767)
            TP->fail(QStringLiteral("%1 is out of range for field %2 (-32768 to 32767).").arg(value).arg(fieldName()));
        assign(value);
        return;
    case FieldType::Integer:
        assign(value);
        return;
    case FieldType::Boolean:
        assign(qint64(value != 0 ? 1 : 0));
        return;
    case FieldType::Float:
        assign(double(value));
        return;
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::DateTime:
        setAsDateTime(double(value));
        return;
    default:
        setAsString(QString::number(value));
        return;
    }
}

void Field::setAsBoolean(bool value)
{
    TP->requireActive();
    if (TP->state != TableState::Edit && TP->state != TableState::Insert)
        TP->fail(QStringLiteral("field %1 cannot be changed: the row is not being edited.").arg(fieldName()));
    if (dataType() == FieldType::String || dataType() == FieldType::Memo)
        setAsString(value ? QStringLiteral("True") : QStringLiteral("False"));
    else if (isDateKind(dataType()))
        TP->fail(QStringLiteral("field %1 is a %2, not a boolean.").arg(fieldName(), fieldTypeName(dataType())));
    else
        assign(qint64(value ? 1 : 0));
}

void Field::setAsFloat(double value)
{
    TP->requireActive();
    if (TP->state != TableState::Edit && TP->state != TableState::Insert)
        TP->fail(QStringLiteral("field %1 cannot be changed: the row is not being edited.").arg(fieldName()));
    switch (dataType()) {
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::DateTime: setAsDateTime(value); return;
    case FieldType::SmallInt:
    case FieldType::Integer:
    case FieldType::Boolean: setAsInteger(std::llround(value)); return;
    case FieldType::Float: assign(value); return;
    default: setAsString(QString::number(value, 'g', 15)); return;
    }
}

void Field::setAsDateTime(double days)
{
    TP->requireActive();
    if (TP->state != TableState::Edit && TP->state != TableState::Insert)
        TP->fail(QStringLiteral("field %1 cannot be changed: the row is not being edited.").arg(fieldName()));
    const FieldType type = dataType();
    if (isDateKind(type) && !isStorableDayCount(days))
        TP->fail(QStringLiteral("%1 is not a valid %2 (field %3).").arg(days).arg(fieldTypeName(type), fieldName()));
    if (isDateKind(type))
        assign(daysToStored(days, type));
    else if (type == FieldType::Float)
        assign(days);
    else if (type == FieldType::String || type == FieldType::Memo)
        setAsString(daysToStored(days, FieldType::DateTime).toString());
    else
        TP->fail(QStringLiteral("field %1 is a %2, not a date.").arg(fieldName(), fieldTypeName(type)));
}

void Field::setValue(const QVariant& value)
{
    if (!value.isValid() || value.isNull()) {
        clear();
        return;
    }
    switch (value.typeId()) {
    case QMetaType::Bool: setAsBoolean(value.toBool()); return;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long: setAsInteger(value.toLongLong()); return;
    case QMetaType::Double:
    case QMetaType::Float: setAsFloat(value.toDouble()); return;
    case QMetaType::QDate: setAsDateTime(daysFromDate(value.toDate())); return;
    case QMetaType::QTime: setAsDateTime(daysFromTime(value.toTime())); return;
    case QMetaType::QDateTime: setAsDateTime(daysFromDateTime(value.toDateTime())); return;
    default: setAsString(value.toString()); return;
    }
}

void Field::clear()
{
    TP->requireActive();
    if (TP->state != TableState::Edit && TP->state != TableState::Insert)
        TP->fail(QStringLiteral("field %1 cannot be changed: the row is not being edited.").arg(fieldName()));
    assign(QVariant());
}

#undef TP

} // namespace store
