#pragma once

#include <QString>

namespace store { class Table; }

// The change journal: one row in merge.db for each change made to a shared
// row, read by the sync add-on.
namespace support {

enum JournalAction { ActionField = 0, ActionAdded = 2, ActionDeleted = 3, ActionChanged = 6 };

void journalfield(store::Table& table, const QString& fieldName, int action);
void journalrecord(store::Table& table, int action);

// The journal is on while merge.db exists in the alias directory; the main
// window sets this once at creation.
void setJournalActive(bool active);
bool journalActive();
// True when merge.db exists in the alias directory.
bool journalFileExists();

// The table code 0..14 of a table name, 15 for tables not journalled.
int tablecode(const QString& tableName);
// The local clock plus the standard bias: the journal's time stamp.
double gmtnow();

// Tests: forget the last-row signature.
void resetJournal();

} // namespace support
