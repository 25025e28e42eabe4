#pragma once

namespace store { class Table; }

namespace shell {

// Puts the current row into edit mode unless it is being edited or inserted,
// then sets every boolean field, in field order, to value.
void setTableBooleans(store::Table& table, bool value);

} // namespace shell
