#pragma once

// The permission model without windows: the position encoding of the two
// check lists, set-all by name prefix, and the defaults and completion of
// permission rows (PERM.DB, one per database and user).
//
// API in short. A FlagRun is the run of adjacent boolean fields between a
// first and a last field found by name (actionRun: actBrowse..actSetupScreen
// of a PERM.DB table; systemRun: sysBroadcast..sysSetupWP of a USERPREF.DB
// table); item p of a check list (from 0) stands for field run.first + p.
// readRun gives the run's values (a blank field reads false); writeRun puts
// the row into edit state and writes every field of the run, without saving;
// applyTick does it for one ticked item, from the row as read for editing.
// countSet/countText make the "%d set, %d clear" label. setAllActions (exact
// prefix "Act") and setAllSystemFlags (prefix "SYS" after upper-casing) set a
// run by name and leave the row in edit state, unsaved. New permission rows:
// installPermHooks gives a PERM.DB table object the two hooks every window on
// it shares (a new row gets its syncwellno; the save of an edited row is
// journalled, action 6); initializePermRow creates or completes the row of one
// (database, user) pair; initializePermSetting does it for one user over every
// database; initializeAllPairs for every user. storedRowExists looks a key up
// afresh (is a pair's database or user still there?). All functions raise
// StoreError.

#include <QString>
#include <QVariantList>
#include <QVector>

namespace store { class Table; }
namespace support { class Progress; }

namespace permissions {

struct FlagRun {
    int first = -1; // field position of the first item
    int last = -1;  // field position of the last item
    int size() const { return last - first + 1; }
};

// The run from firstField to lastField inclusive of an open table. Raises
// StoreError naming the table when a field is missing, the last lies before
// the first, or a field of the run is not boolean.
FlagRun findRun(store::Table& table, const QString& firstField, const QString& lastField);
FlagRun actionRun(store::Table& perm);     // actBrowse .. actSetupScreen
FlagRun systemRun(store::Table& userPref); // sysBroadcast .. sysSetupWP

// The run's values of the current row; blank reads false.
QVector<bool> readRun(store::Table& table, const FlagRun& run);
// Puts the row into edit state (unless in edit or insert state) and writes
// every field of the run from values (values.size() must be run.size()).
void writeRun(store::Table& table, const FlagRun& run, const QVector<bool>& values);

int countSet(const QVector<bool>& values);

// One tick of a check list, applied to the row as it is now: the row is put
// into edit state (editing starts from the row as the file holds it, so
// another program's change since the list was loaded is kept), the item's
// field gets on, and every field of the run is written (blanks become
// false), as storing the whole list does. Returns the run's values as they
// now stand in the row, for the list to show.
QVector<bool> applyTick(store::Table& table, const FlagRun& run, int item, bool on);

// True when the table holds a row with that key, read afresh from the file.
bool storedRowExists(const QString& tableName, const QVariantList& key);

// Sets every boolean field whose name begins "Act" (exactly this case) to
// value; the row is put into edit state and not saved. Returns how many
// fields were set.
int setAllActions(store::Table& perm, bool value);
// Sets every boolean field whose name begins "SYS" after upper-casing; the
// row is put into edit state and not saved. Returns how many fields were set.
int setAllSystemFlags(store::Table& userPref, bool value);

// True when some boolean field of the current row is blank.
bool hasBlankBoolean(store::Table& table);
// Sets every blank boolean field of the current row (already in edit or
// insert state) to value; returns how many.
int fillBlankBooleans(store::Table& table, bool value);

// The hooks of a PERM.DB table object: a new row gets a fresh syncwellno; an
// edited row (not a new one) is journalled with action 6 just before it is
// saved.
void installPermHooks(store::Table& perm);

enum class RowFix { None, Created, Completed };

// Brings the row (db, who) up to date: creates it with every boolean true
// (journalled with action 2 before it is saved) or sets the blank booleans of
// an existing row to true and saves it (journalled by perm's BeforePost hook,
// see installPermHooks). A complete row is left alone. perm is repositioned.
RowFix initializePermRow(store::Table& perm, const QString& db, const QString& who);

struct InitCounts {
    int created = 0;
    int completed = 0;
};

// initializePermRow for every row of database with one user.
InitCounts initializePermSetting(store::Table& database, store::Table& perm, const QString& who);
// initializePermSetting for every row of userPref in key order. The tables
// are walked from their first row; their positions afterwards are the
// caller's to restore. Each pair is reported to progress; the walk stops
// after the pair at which progress asks it to.
InitCounts initializeAllPairs(store::Table& userPref, store::Table& database, store::Table& perm,
                              support::Progress* progress = nullptr);

} // namespace permissions
