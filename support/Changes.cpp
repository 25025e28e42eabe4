#include "support/Changes.h"

#include "shell/Paths.h"
#include "store/Catalogue.h"
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

namespace support {

namespace {

constexpr int kNotJournalled = 15;
constexpr int kMaxAttempts = 1000;
constexpr int kRetryPauseMs = 10;
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
QString g_signature; // identifies the last row written, to drop an immediate repeat

struct PendingRow {
    QString key;
    QString db;
    QString fieldName;
    QString value;
    int tableCode = kNotJournalled;
    int action = 0;
};

// Opens merge.db for one journal call. On failure tells the supervisor once
// and switches the journal off for the rest of the run.
std::unique_ptr<store::Table> preparetable()
{
    std::unique_ptr<store::Table> journal;
    try {
        journal = std::make_unique<store::Table>();
    } catch (const std::bad_alloc&) {
        showError(uiText(QStringLiteral("preparetable() unable to create table")));
        g_active = false;
        return nullptr;
    }
    try {
        journal->setDatabaseName(catalogue::kAlias);
        journal->setTableName(catalogue::kMerge);
        journal->open();
    } catch (const std::exception&) {
        showError(uiText(QStringLiteral(
            "preparetable() unable to open the merge.db, Either merge.db requires repair or re-install of syncwell")));
        g_active = false;
        return nullptr;
    }
    return journal;
}

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

QString signatureOf(const PendingRow& row)
{
    return row.key + row.fieldName + row.value + QString::number(row.action);
}

void reportUnjournalled(const QString& tableName, const PendingRow& row)
{
    showError(uiText(QStringLiteral(
                  "The change to %1, key \"%2\", could not be written to the change journal merge.db.  "
                  "The change itself is not affected, but the sync add-on will not receive it."))
                  .arg(tableName, row.key));
}

void writechange(store::Table& journal, const QString& tableName, const PendingRow& row)
{
    if (!g_active)
        return;
    const QString signature = signatureOf(row);
    if (signature == g_signature)
        return;

    try {
        journal.append();
        const double stamp = gmtnow();
        journal.fieldByName(QStringLiteral("recno")).setAsString(row.key);
        journal.fieldByName(QStringLiteral("dateGMT")).setAsDateTime(stamp);
        journal.fieldByName(QStringLiteral("time")).setAsDateTime(stamp);
        journal.fieldByName(QStringLiteral("who")).setAsString(QString()); // no signed-on user here
        journal.fieldByName(QStringLiteral("database")).setAsInteger(row.tableCode);
        journal.fieldByName(QStringLiteral("action")).setAsInteger(row.action);
        journal.fieldByName(QStringLiteral("fieldname")).setAsString(row.fieldName);
        if (row.value.size() <= kToLength)
            journal.fieldByName(QStringLiteral("to")).setAsString(row.value);
        else
            journal.fieldByName(QStringLiteral("memo")).setAsString(row.value);
        journal.fieldByName(catalogue::fDb).setAsString(row.db);
    } catch (const store::StoreError&) {
        // merge.db does not have the layout the journal writes.
        reportUnjournalled(tableName, row);
        return;
    }

    // Another workstation may be writing the journal: keep trying for a while,
    // letting the windows repaint between attempts. Each attempt gives up at
    // once when the journal is busy, so the retries take about ten seconds.
    store::Session& session = store::Session::instance();
    const int savedTimeout = session.busyTimeout();
    session.setBusyTimeout(0);
    struct RestoreTimeout {
        store::Session& s;
        int ms;
        ~RestoreTimeout() { s.setBusyTimeout(ms); }
    } restore{session, savedTimeout};
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        try {
            journal.fieldByName(QStringLiteral("time")).setAsDateTime(gmtnow());
            journal.post();
            g_signature = signature;
            return;
        } catch (const store::StoreError&) {
            pause(kRetryPauseMs);
        }
    }
    reportUnjournalled(tableName, row);
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

// Inside a write batch the row goes to the outbox of the changed table's
// file, in the change's own transaction; the store moves it to merge.db once
// that has committed. merge.db is not opened per row.
void writeToBatch(store::Table& table, const PendingRow& row)
{
    const QString signature = signatureOf(row);
    if (signature == g_signature)
        return;
    const double stamp = gmtnow();
    store::JournalValues values{
        {QStringLiteral("recno"), row.key},
        {QStringLiteral("dateGMT"), stamp},
        {QStringLiteral("time"), stamp},
        {QStringLiteral("who"), QString()},
        {QStringLiteral("database"), row.tableCode},
        {QStringLiteral("action"), row.action},
        {QStringLiteral("fieldname"), row.fieldName},
        {row.value.size() <= kToLength ? QStringLiteral("to") : QStringLiteral("memo"), row.value},
        {catalogue::fDb, row.db},
    };
    try {
        store::writeToOutbox(table, values);
        g_signature = signature;
    } catch (const store::StoreError&) {
        if (!journalFileExists()) {
            showError(uiText(QStringLiteral(
                "preparetable() unable to open the merge.db, Either merge.db requires repair or re-install of syncwell")));
            g_active = false;
            return;
        }
        reportUnjournalled(table.tableName(), row);
    }
}

// One journal row for the table's current row: about one field of it when
// fieldName is given, about the whole row otherwise.
void journalrow(store::Table& table, const QString* fieldName, int action)
{
    if (!g_active)
        return;
    const bool batched = store::WriteBatch::active();
    std::unique_ptr<store::Table> journal;
    if (!batched) {
        journal = preparetable();
        if (!journal)
            return;
    }

    PendingRow row;
    if (fieldName)
        row.value = fieldtext(table, *fieldName);
    row.tableCode = tablecode(table.tableName());
    if (row.tableCode == kNotJournalled)
        return;
    fieldchanges(table, row);
    row.action = action;
    if (fieldName)
        row.fieldName = fieldName->left(kFieldNameLength);
    if (batched)
        writeToBatch(table, row);
    else
        writechange(*journal, table.tableName(), row);
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
    g_signature.clear();
}

} // namespace support
