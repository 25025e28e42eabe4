#include "tools/topg/Values.h"

#include "store/Connection.h"
#include "store/DayCount.h"
#include "store/StoreError.h"
#include "store/pg/PgLink.h"

#include <QDate>
#include <QStringDecoder>
#include <QTime>

#include <cmath>

namespace topg {

namespace {

const QString kDateFormat = QStringLiteral("yyyy-MM-dd");
const QString kTimeFormat = QStringLiteral("HH:mm:ss.zzz");

// A short, printable sight of a cell's bytes for a message.
QString shown(const QByteArray& bytes)
{
    QString text = QString::fromUtf8(bytes.left(60));
    text.replace(QLatin1Char('\0'), QChar(0xfffd));
    return QLatin1Char('"') + text + (bytes.size() > 60 ? QStringLiteral("...\"") : QStringLiteral("\""));
}

[[noreturn]] void fail(const SourceColumn& column, const Place& place, const QString& what)
{
    throw store::StoreError(
        QStringLiteral("Table %1, rowid %2, field %3: %4").arg(place.table).arg(place.rowid).arg(column.name, what));
}

QString cellText(const Cell& cell)
{
    switch (cell.kind) {
    case Cell::Integer: return QString::number(cell.integer);
    case Cell::Real: return QString::number(cell.real, 'g', QLocale::FloatingPointShortest);
    default: return QString::fromUtf8(cell.bytes);
    }
}

bool isBlank(const Cell& cell)
{
    return cell.kind == Cell::Text && cell.bytes.trimmed().isEmpty();
}

// The times of day the store reads (Field.cpp): with milliseconds, seconds
// or minutes.
QTime parseTime(const QString& text)
{
    QTime t = QTime::fromString(text, kTimeFormat);
    if (!t.isValid())
        t = QTime::fromString(text, QStringLiteral("HH:mm:ss"));
    if (!t.isValid())
        t = QTime::fromString(text, QStringLiteral("HH:mm"));
    return t;
}

bool storableDate(const QDate& date)
{
    return date.isValid() && date.year() >= 1 && date.year() <= 9999;
}

// A date or date-time text as the store reads it: "yyyy-MM-dd", optionally
// followed by a time of day.
bool parseDateTime(const QString& text, QDate* date, QTime* time)
{
    *date = QDate::fromString(text.left(10), kDateFormat);
    *time = QTime(0, 0);
    if (!storableDate(*date))
        return false;
    if (text.size() > 10) {
        const QString rest = text.mid(11);
        *time = QTime::fromString(rest, kTimeFormat);
        if (!time->isValid())
            *time = QTime::fromString(rest, QStringLiteral("HH:mm:ss"));
    }
    return time->isValid();
}

QString dateText(const QDate& date) { return date.toString(kDateFormat); }
QString timeText(const QTime& time) { return time.toString(kTimeFormat); }

QVariant dateValue(const SourceColumn& column, const Cell& cell, const Place& place)
{
    const QString kind = column.type == store::FieldType::Date   ? QStringLiteral("date")
                         : column.type == store::FieldType::Time ? QStringLiteral("time")
                                                                 : QStringLiteral("date-time");
    if (cell.kind == Cell::Integer || cell.kind == Cell::Real) {
        // A day count, as other programs may store it.
        const double days = cell.kind == Cell::Integer ? double(cell.integer) : cell.real;
        if (!store::isStorableDayCount(days))
            fail(column, place, QStringLiteral("%1 is no %2.").arg(cellText(cell), kind));
        if (column.type == store::FieldType::Date && days != std::floor(days))
            fail(column, place, QStringLiteral("%1 has a time of day, which the date field cannot keep.").arg(cellText(cell)));
        return store::storedValue(column.type, days);
    }
    if (cell.kind != Cell::Text)
        fail(column, place, QStringLiteral("holds bytes, not a %1.").arg(kind));
    const QString text = QString::fromUtf8(cell.bytes).trimmed();
    if (column.type == store::FieldType::Time) {
        const QTime time = parseTime(text);
        if (!time.isValid())
            fail(column, place, QStringLiteral("%1 is no time.").arg(shown(cell.bytes)));
        return timeText(time);
    }
    QDate date;
    QTime time;
    if (!parseDateTime(text, &date, &time))
        fail(column, place, QStringLiteral("%1 is no %2.").arg(shown(cell.bytes), kind));
    if (column.type == store::FieldType::Date) {
        if (time != QTime(0, 0))
            fail(column, place, QStringLiteral("%1 has a time of day, which the date field cannot keep.").arg(shown(cell.bytes)));
        return dateText(date);
    }
    return dateText(date) + QLatin1Char(' ') + timeText(time);
}

QVariant booleanValue(const SourceColumn& column, const Cell& cell, const Place& place)
{
    switch (cell.kind) {
    case Cell::Integer: return qint64(cell.integer != 0 ? 1 : 0);
    case Cell::Real: return qint64(cell.real != 0 ? 1 : 0);
    case Cell::Text: {
        // The words the store reads as True and False.
        const QByteArray t = cell.bytes.trimmed().toLower();
        if (t == "true" || t == "t" || t == "yes" || t == "y" || t == "1")
            return qint64(1);
        if (t == "false" || t == "f" || t == "no" || t == "n" || t == "0")
            return qint64(0);
        fail(column, place, QStringLiteral("%1 is neither True nor False.").arg(shown(cell.bytes)));
    }
    default: fail(column, place, QStringLiteral("holds bytes, not True or False."));
    }
}

QVariant integerValue(const SourceColumn& column, const Cell& cell, const Place& place)
{
    qint64 value = 0;
    switch (cell.kind) {
    case Cell::Integer: value = cell.integer; break;
    case Cell::Real:
        // 2^63 is the first double beyond qint64.
        if (!std::isfinite(cell.real) || cell.real != std::floor(cell.real) || std::fabs(cell.real) >= 9.2233720368547758e18)
            fail(column, place, QStringLiteral("%1 is no whole number.").arg(cellText(cell)));
        value = qint64(cell.real);
        break;
    case Cell::Text: {
        bool ok = false;
        value = cell.bytes.trimmed().toLongLong(&ok);
        if (!ok)
            fail(column, place, QStringLiteral("%1 is no whole number.").arg(shown(cell.bytes)));
        break;
    }
    default: fail(column, place, QStringLiteral("holds bytes, not a number."));
    }
    if (column.type == store::FieldType::SmallInt && (value < -32768 || value > 32767))
        fail(column, place, QStringLiteral("%1 is too large for a small integer.").arg(value));
    return value;
}

QVariant floatValue(const SourceColumn& column, const Cell& cell, const Place& place)
{
    switch (cell.kind) {
    case Cell::Integer: return double(cell.integer);
    case Cell::Real: return cell.real;
    case Cell::Text: {
        bool ok = false;
        const double value = cell.bytes.trimmed().toDouble(&ok);
        if (!ok)
            fail(column, place, QStringLiteral("%1 is no number.").arg(shown(cell.bytes)));
        return value;
    }
    default: fail(column, place, QStringLiteral("holds bytes, not a number."));
    }
}

QVariant textValue(const SourceColumn& column, const Cell& cell, const Place& place)
{
    if (cell.kind == Cell::Integer || cell.kind == Cell::Real)
        return cellText(cell);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(cell.bytes);
    if (decoder.hasError())
        fail(column, place, QStringLiteral("the text is not valid UTF-8 (%1).").arg(shown(cell.bytes)));
    if (cell.bytes.contains('\0'))
        fail(column, place, QStringLiteral("the text holds a NUL character, which the server cannot store."));
    if (column.size > 0) {
        const qsizetype characters = text.toUcs4().size();
        if (characters > column.size)
            fail(column, place, QStringLiteral("the text has %1 characters, more than the %2 of the field.")
                                    .arg(characters)
                                    .arg(column.size));
    }
    return text;
}

QVariant bytesValue(const Cell& cell)
{
    switch (cell.kind) {
    case Cell::Integer: return QByteArray::number(cell.integer);
    case Cell::Real: return QByteArray::number(cell.real, 'g', QLocale::FloatingPointShortest);
    default: return cell.bytes.isNull() ? QByteArray("") : cell.bytes;
    }
}

void escapeCopyText(QByteArray& line, const QByteArray& text)
{
    for (const char c : text) {
        switch (c) {
        case '\\': line += "\\\\"; break;
        case '\t': line += "\\t"; break;
        case '\n': line += "\\n"; break;
        case '\r': line += "\\r"; break;
        default: line += c;
        }
    }
}

QByteArray floatText(double value)
{
    if (std::isnan(value))
        return QByteArrayLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QByteArrayLiteral("Infinity") : QByteArrayLiteral("-Infinity");
    return QByteArray::number(value, 'g', 17);
}

} // namespace

SourceColumn sourceColumn(const QString& name, const QString& declaredType, bool key)
{
    SourceColumn column;
    column.name = name;
    column.declaredType = declaredType;
    column.key = key;
    column.type = store::fieldTypeOf(declaredType, &column.size);
    if (column.type != store::FieldType::String)
        column.size = 0;
    column.bytes = store::pg::serverType(declaredType) == QLatin1String("bytea");
    return column;
}

QVariant serverValue(const SourceColumn& column, const Cell& cell, const Place& place)
{
    const bool textual = column.type == store::FieldType::String || column.type == store::FieldType::Memo
                         || column.type == store::FieldType::Unknown;
    QVariant value;
    // A blank text in a field of another type is the blank the store writes
    // for it (NULL); a text field keeps its empty text.
    if (cell.kind != Cell::Null && !(isBlank(cell) && !textual && !column.bytes)) {
        if (column.bytes)
            value = bytesValue(cell);
        else {
            switch (column.type) {
            case store::FieldType::Boolean: value = booleanValue(column, cell, place); break;
            case store::FieldType::SmallInt:
            case store::FieldType::Integer: value = integerValue(column, cell, place); break;
            case store::FieldType::Float: value = floatValue(column, cell, place); break;
            case store::FieldType::Date:
            case store::FieldType::Time:
            case store::FieldType::DateTime: value = dateValue(column, cell, place); break;
            default: value = textValue(column, cell, place);
            }
        }
    }
    if (column.key && !value.isValid())
        fail(column, place, QStringLiteral("a field of the table's key has no value."));
    return value;
}

void appendCopyField(QByteArray& line, const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType: line += "\\N"; break;
    case QMetaType::LongLong: line += QByteArray::number(value.toLongLong()); break;
    case QMetaType::Double: line += floatText(value.toDouble()); break;
    case QMetaType::QByteArray: line += "\\\\x" + value.toByteArray().toHex(); break;
    default: escapeCopyText(line, value.toString().toUtf8());
    }
}

void RowDigest::addRow(qint64 rowid, const QVariantList& values)
{
    m_row.clear();
    m_row += 'R' + QByteArray::number(rowid) + ';';
    for (const QVariant& value : values) {
        switch (value.typeId()) {
        case QMetaType::UnknownType: m_row += "N;"; break;
        case QMetaType::LongLong: m_row += 'I' + QByteArray::number(value.toLongLong()) + ';'; break;
        case QMetaType::Double: m_row += 'F' + floatText(value.toDouble()) + ';'; break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            m_row += 'B' + QByteArray::number(bytes.size()) + ':' + bytes;
            break;
        }
        default: {
            const QByteArray text = value.toString().toUtf8();
            m_row += 'T' + QByteArray::number(text.size()) + ':' + text;
        }
        }
    }
    m_hash.addData(m_row);
    ++m_rows;
}

QString RowDigest::hex() const
{
    return QString::fromLatin1(m_hash.result().toHex());
}

} // namespace topg
