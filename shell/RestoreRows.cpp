#include "shell/RestoreRows.h"

#include "shell/Paths.h"
#include "shell/Restore.h"
#include "store/Catalogue.h"
#include "store/DayCount.h"
#include "store/RawText.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "support/Text.h"

#include <QDir>
#include <QFileInfo>

namespace shell::rows {

const QString& tableName(int table)
{
    static const QString names[TableCount] = {catalogue::kUserPref, catalogue::kPerm, catalogue::kUserDb};
    return names[table];
}

namespace {

QString text(const QString& s) { return support::uiText(s); }

// A stored value in one comparable form: the same value reads the same
// whichever engine or file it came from. nullopt for the blank field.
std::optional<QString> canonical(store::FieldType type, const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        return std::nullopt;
    if (v.metaType() == QMetaType::fromType<store::RawText>())
        return QString::fromUtf8(v.value<store::RawText>().bytes);
    switch (type) {
    case store::FieldType::Boolean: {
        bool ok = false;
        const bool b = store::storedValueBoolean(v, &ok);
        return ok ? QString(b ? "1" : "0") : v.toString();
    }
    case store::FieldType::Date:
    case store::FieldType::Time:
    case store::FieldType::DateTime: {
        double days = 0;
        return store::storedValueDays(v, type, &days) ? QString::number(days, 'g', 17) : v.toString();
    }
    case store::FieldType::SmallInt:
    case store::FieldType::Integer:
    case store::FieldType::Float: {
        bool ok = false;
        const double n = v.toDouble(&ok);
        return ok ? QString::number(n, 'g', 17) : v.toString();
    }
    default: return v.toString();
    }
}

} // namespace

bool sameValue(store::FieldType type, const QVariant& a, const QVariant& b)
{
    return canonical(type, a) == canonical(type, b);
}

// A stored value as the supervisor reads it.
QString displayText(store::FieldType type, const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        return QString();
    switch (type) {
    case store::FieldType::Boolean: {
        bool ok = false;
        const bool b = store::storedValueBoolean(v, &ok);
        return ok ? text(b ? QStringLiteral("Yes") : QStringLiteral("No")) : v.toString();
    }
    case store::FieldType::Date:
    case store::FieldType::Time:
    case store::FieldType::DateTime: {
        double days = 0;
        if (!store::storedValueDays(v, type, &days))
            return v.toString();
        if (type == store::FieldType::Date)
            return store::dateFromDays(days).toString(QStringLiteral("yyyy-MM-dd"));
        if (type == store::FieldType::Time)
            return store::timeFromDays(days).toString(QStringLiteral("HH:mm:ss"));
        return store::dateTimeFromDays(days).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    case store::FieldType::Float: return QString::number(v.toDouble(), 'g', 15);
    default: {
        QString s = *canonical(type, v);
        s.replace(QLatin1Char('\n'), QLatin1Char(' ')).remove(QLatin1Char('\r'));
        return s.size() > 60 ? s.left(57) + QStringLiteral("...") : s;
    }
    }
}

// Writes a stored value of the backup into a field of the row in edit or
// insert, by the field's type, so that a value another engine stored in
// another form lands as the same value.
void setStored(store::Field& field, const QVariant& v)
{
    if (!v.isValid() || v.isNull()) {
        field.clear();
        return;
    }
    switch (field.dataType()) {
    case store::FieldType::Boolean: {
        bool ok = false;
        const bool b = store::storedValueBoolean(v, &ok);
        ok ? field.setAsBoolean(b) : field.setAsString(v.toString());
        return;
    }
    case store::FieldType::Date:
    case store::FieldType::Time:
    case store::FieldType::DateTime:
        if (v.typeId() == QMetaType::QString)
            field.setAsString(v.toString()); // the stored text keeps the milliseconds
        else
            field.setAsDateTime(v.toDouble());
        return;
    default: field.setValue(v); return;
    }
}

// The fields that make a row's identity rather than its content: never
// compared, never written back over a live row.
bool isIdentityField(const QString& name)
{
    return name.compare(catalogue::fWho, Qt::CaseInsensitive) == 0
           || name.compare(catalogue::fDb, Qt::CaseInsensitive) == 0
           || name.compare(catalogue::fSyncwellNo, Qt::CaseInsensitive) == 0;
}

// The content fields in which two rows of one image layout differ.
QStringList differingFields(const Image& layout, const Row& a, const Row& b)
{
    QStringList fields;
    for (int i = 0; i < layout.columns.size(); ++i)
        if (!isIdentityField(layout.columns[i].name) && !sameValue(layout.columns[i].type, a[i], b[i]))
            fields << layout.columns[i].name;
    return fields;
}

bool sameRow(const Image& layout, const std::optional<Row>& a, const std::optional<Row>& b)
{
    if (a.has_value() != b.has_value())
        return false;
    if (!a)
        return true;
    for (int i = 0; i < layout.columns.size(); ++i)
        if (!sameValue(layout.columns[i].type, (*a)[i], (*b)[i]))
            return false;
    return true;
}

QString cellText(const QVariant& v) { return canonical(store::FieldType::String, v).value_or(QString()); }

// --- Reading -----------------------------------------------------------------

QString copyFileName(int table) { return store::tableFileName(tableName(table)); }

// The layout of a live table and, when matchWho is given, that user's rows
// (all rows otherwise).
Image readLive(int table, const std::optional<QString>& matchWho)
{
    store::Table t(catalogue::kAlias, tableName(table));
    t.open();
    Image image;
    image.key = t.keyFields();
    QStringList names;
    for (int i = 0; i < t.fieldCount(); ++i) {
        store::Field& f = t.field(i);
        image.columns.append({f.fieldName(), f.dataType(), f.size()});
        names << f.fieldName();
    }
    const auto snapshot = matchWho ? t.snapshot(names, catalogue::fWho, {*matchWho}) : t.snapshot(names);
    for (const store::RowSnapshot& row : snapshot)
        image.rows.append(row.values);
    return image;
}

namespace {

QString typeText(const store::TableCopy::Column& column)
{
    const QString type = store::fieldTypeName(column.type);
    return column.size > 0 ? QStringLiteral("%1 (%2)").arg(type).arg(column.size) : type;
}

} // namespace

// The backup's copy of a table, checked against the live layout and put in
// its field order. A copy with other fields, types or key is refused: its
// rows would not mean what the live rows mean.
Image readBackup(int number, int table, const Image& live)
{
    const QString folder = QDir::toNativeSeparators(backupFolderPath(number));
    const QString file = copyFileName(table);
    const QString path = joinPath(backupFolderPath(number), file);
    if (!QFileInfo(path).isFile())
        throw RestoreError(text(QStringLiteral("The backup folder %1 holds no copy of %2.  Nothing can be restored "
                                               "from it."))
                               .arg(folder, file));
    store::TableCopy copy;
    try {
        copy = store::readTableCopy(path, tableName(table));
    } catch (const store::StoreError& e) {
        throw RestoreError(text(QStringLiteral("The copy of %1 in the backup folder %2 cannot be read.  It may be "
                                               "damaged.  Nothing can be restored from it."))
                               .arg(file, folder),
                           e.message());
    }
    const QString wrongLayout = text(QStringLiteral("The copy of %1 in the backup folder %2 has another layout than "
                                                    "the table in use.  Nothing can be restored from it."))
                                    .arg(file, folder);
    QVector<int> from;
    for (const auto& column : live.columns) {
        const int i = copy.indexOf(column.name);
        if (i < 0)
            throw RestoreError(wrongLayout, QStringLiteral("The copy has no field %1.").arg(column.name));
        if (copy.columns[i].type != column.type || copy.columns[i].size != column.size)
            throw RestoreError(wrongLayout, QStringLiteral("The field %1 is %2 in the copy and %3 in the table.")
                                                .arg(column.name, typeText(copy.columns[i]), typeText(column)));
        from << i;
    }
    if (copy.columns.size() != live.columns.size())
        throw RestoreError(wrongLayout, QStringLiteral("The copy has %1 fields, the table %2.")
                                            .arg(copy.columns.size())
                                            .arg(live.columns.size()));
    if (QStringList(copy.primaryKey).join(QLatin1Char(',')).toLower() != live.key.join(QLatin1Char(',')).toLower())
        throw RestoreError(wrongLayout, QStringLiteral("The copy is keyed by %1, the table by %2.")
                                            .arg(copy.primaryKey.join(QStringLiteral(", ")), live.key.join(QStringLiteral(", "))));
    Image image;
    image.columns = live.columns;
    image.key = live.key;
    for (const Row& stored : copy.rows) {
        Row row(from.size());
        for (int i = 0; i < from.size(); ++i)
            row[i] = stored[from[i]];
        image.rows.append(row);
    }
    return image;
}

UserRows Side::rowsOf(const QString& who) const
{
    UserRows rows;
    for (int t = 0; t < TableCount; ++t) {
        const Image& image = images[t];
        const int whoCol = image.col(catalogue::fWho);
        const int dbCol = image.col(catalogue::fDb);
        for (const Row& row : image.rows) {
            if (whoCol < 0 || cellText(row[whoCol]) != who)
                continue;
            if (t == UserPrefTable)
                rows.pref = row;
            else if (dbCol >= 0)
                rows.byDb[t].insert(cellText(row[dbCol]), row);
        }
    }
    return rows;
}

QStringList liveDatabases()
{
    store::Table t(catalogue::kAlias, catalogue::kDatabase);
    t.open();
    QStringList codes;
    for (const store::RowSnapshot& row : t.snapshot({catalogue::fDb}))
        codes << cellText(row.values.value(0));
    return codes;
}

// Reads the live side (all rows, or one user's) and then the backup's
// copies against its layouts. A live table that cannot be read is told as
// such, not as a fault of the backup.
void readSides(int number, const std::optional<QString>& who, Side* live, Side* backup, QStringList* databases)
{
    try {
        for (int t = 0; t < TableCount; ++t)
            live->images[t] = readLive(t, who);
        *databases = liveDatabases();
    } catch (const store::StoreError& e) {
        throw RestoreError(text(QStringLiteral("The user tables cannot be read now.  Nothing can be restored.")),
                           e.message());
    }
    for (int t = 0; t < TableCount; ++t)
        backup->images[t] = readBackup(number, t, live->images[t]);
}

} // namespace shell::rows
