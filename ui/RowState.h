#pragma once

namespace store {
class Table;
enum class TableState;
}

namespace ui {

// True in edit or insert state: the current row may hold changes not saved yet.
bool isEditing(store::TableState state);
bool isEditing(const store::Table& table);

// Puts the current row into edit state unless it is in edit or insert state.
void startEditing(store::Table& table);

// Drops a row left in edit or insert state; does nothing otherwise.
void dropPendingRow(store::Table& table);

} // namespace ui
