#include "ui/RowState.h"

#include "store/Table.h"

namespace ui {

bool isEditing(store::TableState state)
{
    return state == store::TableState::Edit || state == store::TableState::Insert;
}

bool isEditing(const store::Table& table) { return isEditing(table.state()); }

void startEditing(store::Table& table)
{
    if (!isEditing(table))
        table.edit();
}

void dropPendingRow(store::Table& table)
{
    if (isEditing(table))
        table.cancel();
}

} // namespace ui
