#pragma once

#include <QMap>
#include <QString>
#include <functional>

namespace store { class Table; }

// The global replace of a user ID without its window: which rows match, how
// many a replace would change, and the walks that change them. The dialog and
// the tests call these directly.
namespace accounts {

// The five boxes of the replace dialog.
struct ReplaceChoice {
    bool contacts = false;      // CONTACT.DB
    bool eventsNotDone = false; // EVENT.DB rows whose completed is false or blank
    bool eventsDone = false;    // EVENT.DB rows whose completed is true
    bool marketing = false;     // Steps.DB, then actions.DB
    bool holiday = false;       // holiday.DB
    bool any() const { return contacts || eventsNotDone || eventsDone || marketing || holiday; }
};

// A stored Who matches when, without its trailing characters of code 32 or
// less, it equals the source exactly (letter case included).
bool whoMatches(const QString& storedWho, const QString& source);

// The rows a replace would change, table by table.
struct ReplaceCounts {
    qint64 contacts = 0;
    qint64 eventsNotDone = 0;
    qint64 eventsDone = 0;
    qint64 holiday = 0;
    qint64 steps = 0;
    qint64 actions = 0;
    QMap<QString, QString> unreadable; // table name -> the store's message
    qint64 total() const { return contacts + eventsNotDone + eventsDone + holiday + steps + actions; }
};

// Counts through shared opens, so that nobody is locked out while the
// supervisor reads the numbers. A table that cannot be read now (held by
// another program, say) is listed as unreadable; the replace itself will
// then stop there with the store's error.
ReplaceCounts countReplace(const QString& source, const ReplaceChoice& choice);

// One line per ticked table ("CONTACT.DB: 12,408 rows"), or a line saying
// that nothing will change.
QString previewText(const ReplaceCounts& counts, const ReplaceChoice& choice);

// What a walk reports to whoever runs it: the progress text at every 25th row
// read, and after every row a chance to stop (false stops the whole replace).
struct ReplaceHooks {
    std::function<void(const QString&)> status;
    std::function<bool()> afterRow;
};

// Walks an open table in its key order and writes target into the Who of
// every matching row, journalling each. Returns false when afterRow stopped
// it. A row is replaced once even when Who is part of the table's key and the
// change moves the row further along the walk.
bool replacewho(store::Table& table, const QString& source, const QString& target, const ReplaceHooks& hooks);

// The same walk over EVENT.DB, limited to done and/or not-done events.
bool replaceEvents(store::Table& table, const QString& source, const QString& target, bool notDone, bool done,
                   const ReplaceHooks& hooks);

// The whole replace: each ticked table opened for this program alone and
// walked, in the order contacts, events, holidays, steps, actions, all inside
// one write batch. Returns false when stopped; a store error ends it at that
// table (rows already replaced stay replaced) and is raised to the caller.
bool replaceAll(const QString& source, const QString& target, const ReplaceChoice& choice,
                const ReplaceHooks& hooks = {});

} // namespace accounts
