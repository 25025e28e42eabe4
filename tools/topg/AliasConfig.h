#pragma once

#include <QString>

namespace topg {

// Points an alias of a store configuration at a server schema: its section
// gets ENGINE=postgresql, CONNECTION and SCHEMA; PATH stays (the exit
// backups still go there), or is set to dataDir when the section has none.
// Other sections, other keys and comments are kept; a missing file or
// section is made. Raises StoreError when the file cannot be written.
void pointAliasAtServer(const QString& configPath, const QString& alias, const QString& connection,
                        const QString& schema, const QString& dataDir);

} // namespace topg
