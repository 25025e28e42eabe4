#include "shell/Records.h"

#include "store/Table.h"

namespace shell {

void setTableBooleans(store::Table& table, bool value)
{
    if (table.state() != store::TableState::Edit && table.state() != store::TableState::Insert)
        table.edit();
    const int count = table.fieldCount();
    for (int i = 0; i < count; ++i) {
        store::Field& f = table.field(i);
        if (f.dataType() == store::FieldType::Boolean)
            f.setAsBoolean(value);
    }
}

} // namespace shell
