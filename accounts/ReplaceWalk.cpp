#include "accounts/ReplaceWalk.h"

#include "store/ChangeUnit.h"
#include "store/Catalogue.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Text.h"

#include <QLocale>
#include <QSet>
#include <QStringList>

namespace accounts {

namespace {

constexpr int kProgressEvery = 25;
const QString kCompleted = QStringLiteral("completed");
// The field name as the journal records it for every replaced row.
const QString kJournalledField = QStringLiteral("who");

bool keyHoldsWho(const store::Table& table)
{
    for (const QString& field : table.keyFields()) {
        if (field.compare(catalogue::fWho, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void gotoRow(store::Table& table, qint64 rowId)
{
    if (!table.gotoRowId(rowId))
        throw store::StoreError(support::uiText(QStringLiteral("A row of %1 went missing while its user IDs were being replaced."))
                                    .arg(table.tableName()));
}

void replaceRow(store::Table& table, store::Field& who, const QString& target)
{
    table.edit();
    who.setAsString(target);
    store::ChangeUnit unit(table);
    table.post();
    support::journalfield(table, kJournalledField, support::ActionField);
    unit.commit();
}

// The events a replace takes: done ones when done is set, not-done ones
// (completed false or blank) when notDone is set.
bool eventWanted(const store::Field& completed, bool notDone, bool done)
{
    return completed.asBoolean() ? done : notDone;
}

// One walk in key order. wanted() adds a condition to the Who match;
// progress(n) is the status text after the n-th row read.
//
// When Who is part of the key, a changed row moves in key order. The walk
// then remembers the row that followed it before the change and goes on
// from there, so nothing is skipped, and passes over rows it has already
// replaced should the change have moved them further along.
template <typename Wanted, typename Progress>
bool walk(store::Table& table, const QString& source, const QString& target, Wanted wanted, Progress progress,
          const ReplaceHooks& hooks)
{
    store::Field& who = table.fieldByName(catalogue::fWho);
    const bool rowsMove = keyHoldsWho(table);
    QSet<qint64> replaced;
    qint64 counter = 0;
    table.first();
    while (!table.eof()) {
        bool lastRow = false;
        if (rowsMove && replaced.contains(table.rowId())) {
            table.next();
            continue; // the same row, met again after its move: not a new row read
        }
        if (whoMatches(who.asString(), source) && wanted()) {
            if (rowsMove) {
                const qint64 row = table.rowId();
                table.next();
                const qint64 following = table.eof() ? 0 : table.rowId();
                gotoRow(table, row);
                replaceRow(table, who, target);
                replaced.insert(row);
                if (following != 0)
                    gotoRow(table, following);
                else
                    lastRow = true;
            } else {
                replaceRow(table, who, target);
                table.next();
            }
        } else {
            table.next();
        }
        ++counter;
        if (counter % kProgressEvery == 0 && hooks.status)
            hooks.status(progress(counter));
        if (hooks.afterRow && !hooks.afterRow())
            return false;
        if (lastRow)
            break;
    }
    return true;
}

// A table opened for this program alone for the length of one walk.
class ExclusiveTable {
public:
    explicit ExclusiveTable(const QString& name) : m_table(catalogue::kAlias, name)
    {
        m_table.setExclusive(true);
        m_table.open();
    }
    ~ExclusiveTable() { m_table.close(); }
    store::Table& operator*() { return m_table; }
    ExclusiveTable(const ExclusiveTable&) = delete;
    ExclusiveTable& operator=(const ExclusiveTable&) = delete;

private:
    store::Table m_table;
};

// Counts the matching rows of a table opened shared; count(values) decides
// where each matching row is added (values: Who, then the extra fields). Only
// the columns the count needs are read.
template <typename Count>
void countMatches(ReplaceCounts& counts, const QString& tableName, const QString& source, Count count,
                  const QStringList& extraFields = {})
{
    try {
        store::Table table(catalogue::kAlias, tableName);
        table.open();
        table.scan(QStringList{catalogue::fWho} + extraFields, [&](const QVariantList& values) {
            if (whoMatches(values[0].toString(), source))
                count(values);
        });
    } catch (const store::StoreError& e) {
        counts.unreadable.insert(tableName, e.message());
    }
}

QString rowsText(qint64 count)
{
    // One row; none and many are rows.
    return QStringLiteral("%1 row%2").arg(QLocale(QLocale::English).toString(count),
                                          count == 1 ? QString() : QStringLiteral("s"));
}

} // namespace

bool whoMatches(const QString& storedWho, const QString& source)
{
    return support::trimRight(storedWho) == source;
}

ReplaceCounts countReplace(const QString& source, const ReplaceChoice& choice)
{
    ReplaceCounts counts;
    if (choice.contacts)
        countMatches(counts, catalogue::kContact, source, [&](const QVariantList&) { ++counts.contacts; });
    if (choice.eventsNotDone || choice.eventsDone) {
        // A blank "completed" counts as not done, as the walk reads it.
        countMatches(
            counts, catalogue::kEvent, source,
            [&](const QVariantList& values) {
                if (store::storedValueBoolean(values[1]))
                    counts.eventsDone += choice.eventsDone ? 1 : 0;
                else
                    counts.eventsNotDone += choice.eventsNotDone ? 1 : 0;
            },
            {kCompleted});
    }
    if (choice.holiday)
        countMatches(counts, catalogue::kHoliday, source, [&](const QVariantList&) { ++counts.holiday; });
    if (choice.marketing) {
        countMatches(counts, catalogue::kSteps, source, [&](const QVariantList&) { ++counts.steps; });
        countMatches(counts, catalogue::kActions, source, [&](const QVariantList&) { ++counts.actions; });
    }
    return counts;
}

QString previewText(const ReplaceCounts& counts, const ReplaceChoice& choice)
{
    if (counts.total() == 0 && counts.unreadable.isEmpty())
        return support::uiText(QStringLiteral("No row holds this user ID: nothing will change."));
    QStringList lines;
    QSet<QString> told;
    auto line = [&](bool ticked, const QString& table, const QString& what, qint64 count) {
        if (!ticked)
            return;
        if (!counts.unreadable.contains(table)) {
            lines << support::uiText(QStringLiteral("%1: %2")).arg(what, rowsText(count));
        } else if (!told.contains(table)) {
            told.insert(table);
            lines << support::uiText(QStringLiteral("%1: cannot be counted now (%2)")).arg(table, counts.unreadable.value(table));
        }
    };
    const QString& event = catalogue::kEvent;
    line(choice.contacts, catalogue::kContact, catalogue::kContact, counts.contacts);
    line(choice.eventsNotDone, event, event + support::uiText(QStringLiteral(", not done")), counts.eventsNotDone);
    line(choice.eventsDone, event, event + support::uiText(QStringLiteral(", done")), counts.eventsDone);
    line(choice.holiday, catalogue::kHoliday, catalogue::kHoliday, counts.holiday);
    line(choice.marketing, catalogue::kSteps, catalogue::kSteps, counts.steps);
    line(choice.marketing, catalogue::kActions, catalogue::kActions, counts.actions);
    return lines.join(QLatin1Char('\n'));
}

bool replacewho(store::Table& table, const QString& source, const QString& target, const ReplaceHooks& hooks)
{
    const QString name = table.tableName();
    return walk(
        table, source, target, [] { return true; },
        [&](qint64 counter) {
            return support::uiText(QStringLiteral("Working : %1")).arg(name) + QLatin1Char(' ') + QString::number(counter);
        },
        hooks);
}

bool replaceEvents(store::Table& table, const QString& source, const QString& target, bool notDone, bool done,
                   const ReplaceHooks& hooks)
{
    const store::Field& completed = table.fieldByName(kCompleted);
    return walk(
        table, source, target, [&] { return eventWanted(completed, notDone, done); },
        [](qint64 counter) { return support::uiText(QStringLiteral("Working : Events %1")).arg(counter); }, hooks);
}

bool replaceAll(const QString& source, const QString& target, const ReplaceChoice& choice, const ReplaceHooks& hooks)
{
    // Up to millions of small writes: one batch, committed often enough by
    // the store not to keep the journal's readers waiting.
    store::WriteBatch batch;
    auto finish = [&](bool completed) {
        batch.commit();
        return completed;
    };
    if (choice.contacts) {
        ExclusiveTable contact(catalogue::kContact);
        if (!replacewho(*contact, source, target, hooks))
            return finish(false);
    }
    if (choice.eventsNotDone || choice.eventsDone) {
        ExclusiveTable event(catalogue::kEvent);
        if (!replaceEvents(*event, source, target, choice.eventsNotDone, choice.eventsDone, hooks))
            return finish(false);
    }
    if (choice.holiday) {
        ExclusiveTable holiday(catalogue::kHoliday);
        if (!replacewho(*holiday, source, target, hooks))
            return finish(false);
    }
    if (choice.marketing) {
        {
            ExclusiveTable steps(catalogue::kSteps);
            if (!replacewho(*steps, source, target, hooks))
                return finish(false);
        }
        ExclusiveTable actions(catalogue::kActions);
        if (!replacewho(*actions, source, target, hooks))
            return finish(false);
    }
    return finish(true);
}

} // namespace accounts
