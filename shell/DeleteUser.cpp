#include "shell/DeleteUser.h"

#include "store/Catalogue.h"
#include "store/Table.h"

namespace shell {

namespace {

// Walks one table from its first row and deletes the rows owned by userId.
// A deletion leaves the cursor on the following row, so only a kept row
// moves the cursor on.
void deleteUserRows(store::Table& table, const QString& userId)
{
    if (!table.active())
        table.open();
    table.first();
    store::Field& who = table.fieldByName(catalogue::fWho);
    while (!table.eof()) {
        // Exact comparison, letter case included: "abc" is not "ABC".
        if (who.asString() == userId)
            table.deleteRecord();
        else
            table.next();
    }
}

} // namespace

void deleteUserFromAllDB(const QString& userId, const QList<store::Table*>& tables)
{
    // Group the deletions into few transactions; rows deleted before an
    // error stay deleted, as without the batch.
    store::WriteBatch batch;
    for (store::Table* table : tables)
        deleteUserRows(*table, userId);
    batch.commit();
}

} // namespace shell
