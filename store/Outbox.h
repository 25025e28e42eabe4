#pragma once

#include "store/StoreError.h"

#include <QPair>
#include <QString>
#include <QVariant>
#include <QVector>
#include <functional>

namespace store {

class SqliteConnection;
class Table;

// The journal's outbox. While a WriteBatch is alive, a journal row for a
// change is written into a table of the changed table's own file
// (brisel_outbox), in the same transaction as the change, so that a crash can
// never keep one without the other. Once that transaction has committed, the
// rows move to the journal table (merge.db), which stays exactly as its
// readers know it. Rows left behind by a crash move on the next start.
//
// A move that a crash interrupts after merge.db committed is recognised on
// the next start: before inserting, the outbox rows record how far merge.db
// went, and leftovers already present beyond that point are not written
// twice.

// merge has a layout other than the journal writes (a field is missing).
class JournalLayoutError : public StoreError {
public:
    using StoreError::StoreError;
};

using JournalValues = QVector<QPair<QString, QVariant>>; // journal field -> value (text, integer, day count)

// Writes one journal row for the changed table's current change, inside the
// change unit (ChangeUnit) that holds the change.
void writeToOutbox(Table& changed, const JournalValues& values);

// Moves the committed outbox rows of one table file into merge.db, after
// what still waits from earlier commits. Returns false, keeping them for a
// later move, when merge.db cannot take them now.
bool moveOutbox(SqliteConnection& connection);
// The same after a single change: waits for a busy merge.db as long as a
// write waits for a busy file, and tells the user when the rows must wait
// for a later move.
void moveOutboxSoon(SqliteConnection& connection);

// Moves what a crash left in the outboxes of the alias's table files. Returns
// the number of journal rows written to merge.db.
int moveLeftoverOutboxes(const QString& alias);

// The batch has ended: move what is still waiting (retrying while merge.db is
// busy) and close the journal table.
void finishOutboxes();

} // namespace store
