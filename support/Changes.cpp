#include "support/Changes.h"

#include "shell/Paths.h"
#include "store/Catalogue.h"
#include "store/ChangeUnit.h"
#include "store/Outbox.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "support/Clock.h"
#include "support/Messages.h"
#include "support/Text.h"

#include <QFileInfo>

#include <cmath>
#include <iterator>
#include <memory>
#include <new>
#include <optional>

namespace support {

namespace {

constexpr int kNotJournalled = 15;
constexpr int kKeyLength = 25;
constexpr int kDbLength = 8;
constexpr int kFieldNameLength = 40;
constexpr int kToLength = 255;

struct JournalledTable {
    const char* name;
    const char* keyField;
    bool carriesDb;
};

// The position in this list is the table code written to the journal.
constexpr JournalledTable kTables[] = {
    {"contact.db", "recno", true},
    {"event.db", "erecno", true},
    {"database.db", "DB", true},
    {"actions.db", "syncwellno", false},
    {"steps.db", "syncwellno", false},
    {"plan.db", "precno", false},
    {"holiday.db", "syncwellno", false},
    {"messages.db", "mrecno", false},
    {"phonemsg.db", "syncwellno", true},
    {"popup.db", "syncwellno", true},
    {"perm.db", "syncwellno", true},
    {"filesdb.db", "syncwellno", true},
    {"userpref.db", "Who", false},
    {"userdb.db", "syncwellno", true},
    {"relate.db", "recno", false},
};
static_assert(std::size(kTables) == kNotJournalled);

bool g_active = false;

struct PendingRow {
    QString key;
    QString db;
    QString fieldName;
    QString value;
    int tableCode = kNotJournalled;
    int action = 0;
};

// The value of a field as the journal writes it; empty when it cannot be
// converted (a blank date or time among them).
QString fieldtext(store::Table& table, const QString& fieldName)
{
    try {
        store::Field* found = table.findField(fieldName);
        if (!found)
            return QString();
        store::Field& field = *found;
        switch (field.dataType()) {
        case store::FieldType::SmallInt:
        case store::FieldType::Integer:
            return QString::number(field.asLargeInt());
        case store::FieldType::Date:
            if (field.isNull())
                return QString();
            return QString::number(qint64(std::trunc(field.asDateTime())));
        case store::FieldType::Time:
            if (field.isNull())
                return QString();
            return QString::asprintf("%.15g", field.asDateTime());
        default:
            return field.asString();
        }
    } catch (const store::StoreError&) {
        return QString();
    }
}

// The key and DB texts of the table's current row.
void fieldchanges(store::Table& table, PendingRow& row)
{
    const JournalledTable& entry = kTables[row.tableCode];
    row.key = table.fieldByName(QString::fromLatin1(entry.keyField)).asString().left(kKeyLength);
    row.db = entry.carriesDb ? table.fieldByName(catalogue::fDb).asString().left(kDbLength) : QString();
}

// Identifies a row written, to drop an immediate repeat of the same change.
// A rollback since then may have taken that row back: the signature holds
// only while no rollback came after it.
struct Signature {
    QString text;
    quint64 rollbacks = 0;
};
Signature g_signature;

QString signatureOf(const PendingRow& row)
{
    return QString::number(row.tableCode) + QLatin1Char('\x1f') + row.db + QLatin1Char('\x1f') + row.key
           + QLatin1Char('\x1f') + row.fieldName + QLatin1Char('\x1f') + row.value + QLatin1Char('\x1f')
           + QString::number(row.action);
}

bool isRepeat(const QString& signature)
{
    return signature == g_signature.text && g_signature.rollbacks == store::rollbackCount();
}

void switchOff()
{
    showError(uiText(QStringLiteral(
        "preparetable() unable to open the merge.db, Either merge.db requires repair or re-install of syncwell")));
    g_active = false;
}

store::JournalValues valuesOf(const PendingRow& row)
{
    const double stamp = gmtnow();
    return {
        {QStringLiteral("recno"), row.key},
        {QStringLiteral("dateGMT"), stamp},
        {QStringLiteral("time"), stamp},
        {QStringLiteral("who"), QString()}, // no signed-on user here
        {QStringLiteral("database"), row.tableCode},
        {QStringLiteral("action"), row.action},
        {QStringLiteral("fieldname"), row.fieldName},
        {row.value.size() <= kToLength ? QStringLiteral("to") : QStringLiteral("memo"), row.value},
        {catalogue::fDb, row.db},
    };
}

// Writes the row into the change unit that holds the change (the caller's,
// or post's and delete's own while their hooks run), so that the two stand
// or fall together. Outside any unit the row gets one of its own. A row that
// cannot be written takes its change back with it: the error says so.
void writechange(store::Table& table, const PendingRow& row)
{
    const QString signature = signatureOf(row);
    if (isRepeat(signature))
        return;
    try {
        std::optional<store::ChangeUnit> own;
        if (!store::ChangeUnit::isOpen(table))
            own.emplace(table);
        store::writeToOutbox(table, valuesOf(row));
        if (own)
            own->commit();
    } catch (const std::bad_alloc&) {
        // No room for the journal's row: the journal goes off, the change stands.
        showError(uiText(QStringLiteral("preparetable() unable to create table")));
        g_active = false;
        return;
    } catch (const store::StoreError& e) {
        // Only a journal that is not there, or not of the layout written
        // here, is switched off; the change then stands without its row.
        if (dynamic_cast<const store::JournalLayoutError*>(&e) || !journalFileExists()) {
            switchOff();
            return;
        }
        throw store::StoreError(uiText(QStringLiteral(
                                           "The change to %1, key \"%2\", was not saved: its row in the change journal "
                                           "merge.db could not be written (%3)."))
                                    .arg(table.tableName(), row.key, e.message()));
    }
    g_signature = {signature, store::rollbackCount()};
}

} // namespace

void setJournalActive(bool active)
{
    g_active = active;
}

bool journalActive()
{
    return g_active;
}

bool journalFileExists()
{
    try {
        return store::tableExists(catalogue::kAlias, catalogue::kMerge);
    } catch (const store::StoreError&) {
        return false; // no data directory, or the server cannot be reached
    }
}

int tablecode(const QString& tableName)
{
    const QString withExtension = tableName + QStringLiteral(".DB");
    for (int code = 0; code < kNotJournalled; ++code) {
        const QLatin1String name(kTables[code].name);
        if (tableName.compare(name, Qt::CaseInsensitive) == 0
            || withExtension.compare(name, Qt::CaseInsensitive) == 0)
            return code;
    }
    return kNotJournalled;
}

double gmtnow()
{
    return nowDays() + standardBiasMinutes() / 1440.0;
}

namespace {

// One journal row for the table's current row: about one field of it when
// fieldName is given, about the whole row otherwise.
void journalrow(store::Table& table, const QString* fieldName, int action)
{
    if (!g_active)
        return;
    PendingRow row;
    row.tableCode = tablecode(table.tableName());
    if (row.tableCode == kNotJournalled)
        return;
    if (fieldName)
        row.value = fieldtext(table, *fieldName);
    fieldchanges(table, row);
    row.action = action;
    if (fieldName)
        row.fieldName = fieldName->left(kFieldNameLength);
    writechange(table, row);
}

} // namespace

void journalfield(store::Table& table, const QString& fieldName, int action)
{
    journalrow(table, &fieldName, action);
}

void journalrecord(store::Table& table, int action)
{
    journalrow(table, nullptr, action);
}

void resetJournal()
{
    g_signature = {};
}

} // namespace support
