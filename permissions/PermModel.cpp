#include "permissions/PermModel.h"

#include "shell/Paths.h"
#include "store/ChangeUnit.h"
#include "store/Catalogue.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Progress.h"
#include "support/Text.h"
#include "ui/RowState.h"

#include <algorithm>

namespace permissions {

namespace {

bool isBoolean(store::Field& f) { return f.dataType() == store::FieldType::Boolean; }

// Sets every boolean field whose name passes the test; the row is put into
// edit state first.
template <typename Match>
int setAllMatching(store::Table& table, bool value, Match matches)
{
    ui::startEditing(table);
    int count = 0;
    for (int i = 0; i < table.fieldCount(); ++i) {
        store::Field& f = table.field(i);
        if (isBoolean(f) && matches(f.fieldName().left(3))) {
            f.setAsBoolean(value);
            ++count;
        }
    }
    return count;
}

} // namespace

FlagRun findRun(store::Table& table, const QString& firstField, const QString& lastField)
{
    store::Field* first = table.findField(firstField);
    store::Field* last = table.findField(lastField);
    if (!first || !last || last->index() < first->index())
        throw store::StoreError(QStringLiteral("The table %1 has no fields %2 to %3 in that order.")
                                    .arg(table.tableName(), firstField, lastField));
    FlagRun run{first->index(), last->index()};
    for (int i = run.first; i <= run.last; ++i)
        if (!isBoolean(table.field(i)))
            throw store::StoreError(QStringLiteral("The field %1 of the table %2 is not a logical field.")
                                        .arg(table.field(i).fieldName(), table.tableName()));
    return run;
}

FlagRun actionRun(store::Table& perm)
{
    return findRun(perm, catalogue::fFirstAction, catalogue::fLastAction);
}

FlagRun systemRun(store::Table& userPref)
{
    return findRun(userPref, catalogue::fFirstSystem, catalogue::fLastSystem);
}

QVector<bool> readRun(store::Table& table, const FlagRun& run)
{
    QVector<bool> values;
    values.reserve(run.size());
    for (int i = run.first; i <= run.last; ++i)
        values.append(table.field(i).asBoolean());
    return values;
}

void writeRun(store::Table& table, const FlagRun& run, const QVector<bool>& values)
{
    if (values.size() != run.size())
        throw store::StoreError(QStringLiteral("%1 values for the %2 fields of a run of %3.")
                                    .arg(values.size())
                                    .arg(run.size())
                                    .arg(table.tableName()));
    ui::startEditing(table);
    for (int i = 0; i < values.size(); ++i)
        table.field(run.first + i).setAsBoolean(values[i]);
}

int countSet(const QVector<bool>& values)
{
    return int(std::count(values.cbegin(), values.cend(), true));
}

QVector<bool> applyTick(store::Table& table, const FlagRun& run, int item, bool on)
{
    if (item < 0 || item >= run.size())
        throw store::StoreError(QStringLiteral("Item %1 is not one of the %2 fields of a run of %3.")
                                    .arg(item + 1)
                                    .arg(run.size())
                                    .arg(table.tableName()));
    ui::startEditing(table);
    QVector<bool> values = readRun(table, run);
    values[item] = on;
    writeRun(table, run, values);
    return values;
}

bool storedRowExists(const QString& tableName, const QVariantList& key)
{
    store::Table table(catalogue::kAlias, tableName);
    table.open();
    return table.findKey(key);
}

int setAllActions(store::Table& perm, bool value)
{
    return setAllMatching(perm, value, [](const QString& head) { return head == QLatin1String("Act"); });
}

int setAllSystemFlags(store::Table& userPref, bool value)
{
    return setAllMatching(userPref, value, [](const QString& head) { return head.toUpper() == QLatin1String("SYS"); });
}

namespace {

// The indexes of a table's boolean fields; a run of rows asks once.
QVector<int> booleanFields(store::Table& table)
{
    QVector<int> fields;
    for (int i = 0; i < table.fieldCount(); ++i)
        if (isBoolean(table.field(i)))
            fields << i;
    return fields;
}

bool anyBlank(store::Table& table, const QVector<int>& fields)
{
    return std::any_of(fields.cbegin(), fields.cend(), [&](int i) { return table.field(i).isNull(); });
}

} // namespace

bool hasBlankBoolean(store::Table& table)
{
    return anyBlank(table, booleanFields(table));
}

int fillBlankBooleans(store::Table& table, bool value)
{
    int count = 0;
    for (int i = 0; i < table.fieldCount(); ++i) {
        store::Field& f = table.field(i);
        if (isBoolean(f) && f.isNull()) {
            f.setAsBoolean(value);
            ++count;
        }
    }
    return count;
}

void installPermHooks(store::Table& perm)
{
    perm.onNewRecord = [](store::Table& t) {
        t.fieldByName(catalogue::fSyncwellNo).setAsString(shell::newRecordId());
    };
    perm.beforePost = [](store::Table& t) {
        if (t.state() == store::TableState::Edit)
            support::journalrecord(t, support::ActionChanged);
    };
}

namespace {

RowFix initializeRow(store::Table& perm, const QString& db, const QString& who, const QVector<int>& booleans)
{
    const bool found = perm.findKey({db, who});
    if (found && !anyBlank(perm, booleans))
        return RowFix::None;
    if (found) {
        perm.edit();
    } else {
        perm.insert();
        // A table object without the hooks still gives the row its key.
        store::Field& id = perm.fieldByName(catalogue::fSyncwellNo);
        if (id.isNull() || id.asString().isEmpty())
            id.setAsString(shell::newRecordId());
    }
    perm.fieldByName(catalogue::fDb).setAsString(db);
    perm.fieldByName(catalogue::fWho).setAsString(who);
    fillBlankBooleans(perm, true);
    store::ChangeUnit unit(perm);
    if (!found)
        support::journalrecord(perm, support::ActionAdded);
    perm.post();
    unit.commit();
    return found ? RowFix::Completed : RowFix::Created;
}

} // namespace

RowFix initializePermRow(store::Table& perm, const QString& db, const QString& who)
{
    return initializeRow(perm, db, who, booleanFields(perm));
}

namespace {

// initializePermRow for every database with one user, each pair reported to
// progress as one more of done. Returns false when progress asked to stop.
bool initializeUserRows(store::Table& database, store::Table& perm, const QString& who, InitCounts& counts,
                        support::Progress* progress, qint64& done)
{
    store::Field& db = database.fieldByName(catalogue::fDb);
    const QVector<int> booleans = booleanFields(perm);
    for (database.first(); !database.eof(); database.next()) {
        switch (initializeRow(perm, db.asString(), who, booleans)) {
        case RowFix::Created: ++counts.created; break;
        case RowFix::Completed: ++counts.completed; break;
        case RowFix::None: break;
        }
        if (!support::advanceProgress(progress, ++done))
            return false;
    }
    return true;
}

} // namespace

InitCounts initializePermSetting(store::Table& database, store::Table& perm, const QString& who)
{
    InitCounts counts;
    qint64 done = 0;
    initializeUserRows(database, perm, who, counts, nullptr, done);
    return counts;
}

InitCounts initializeAllPairs(store::Table& userPref, store::Table& database, store::Table& perm,
                              support::Progress* progress)
{
    InitCounts total;
    support::beginProgress(progress, support::uiText(QStringLiteral("Permission rows of every user and database")),
                           qint64(userPref.recordCount()) * database.recordCount());
    store::Field& who = userPref.fieldByName(catalogue::fWho);
    qint64 done = 0;
    for (userPref.first(); !userPref.eof(); userPref.next()) {
        if (!initializeUserRows(database, perm, who.asString(), total, progress, done))
            break;
    }
    return total;
}

} // namespace permissions
