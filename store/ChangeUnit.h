#pragma once

#include <QtGlobal>

#include <memory>

namespace store {

class Connection;
class Table;

// One journalled change: the writes of a change to a table and the journal
// rows written for it, before or after it, commit together or not at all.
//
//     store::ChangeUnit unit(table);
//     table.post();
//     support::journalrecord(table, support::ActionChanged);
//     unit.commit();
//
// Inside a WriteBatch the unit is a savepoint in the batch's transaction on
// the table, which the batch window leaves alone until the unit is done;
// otherwise it is a transaction of its own. A unit that is not committed
// (an error left it) takes back its change and its journal rows, and nothing
// of the batch's other units. Posts and deletes run in a unit of their own,
// nested in the caller's when there is one, so that journal rows written by
// BeforePost and BeforeDelete hooks stand or fall with the change. A unit
// opened inside another is part of it: when it fails, the outer unit cannot
// be committed.
class ChangeUnit {
public:
    explicit ChangeUnit(Table& table);
    explicit ChangeUnit(std::shared_ptr<Connection> connection);
    ~ChangeUnit();
    // Keeps the unit's writes. The outermost unit outside a batch commits
    // here, and raises StoreError when that fails (nothing is kept then).
    void commit();
    // True while a unit is open on the table's connection (a server's
    // tables share one).
    static bool isOpen(Table& table);

    ChangeUnit(const ChangeUnit&) = delete;
    ChangeUnit& operator=(const ChangeUnit&) = delete;

private:
    std::shared_ptr<Connection> m_conn;
    bool m_done = false;
};

// Counts every rollback of written work in this program: what was remembered
// about rows written before one may no longer hold.
quint64 rollbackCount();

} // namespace store
