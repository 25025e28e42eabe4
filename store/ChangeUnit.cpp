#include "store/ChangeUnit.h"

#include "store/Connection.h"
#include "store/StoreError.h"
#include "store/TablePrivate.h"

namespace store {

namespace {

std::shared_ptr<Connection> connectionOf(Table& table)
{
    auto& t = TableAccess::of(table);
    if (!t.conn)
        throw StoreError(QStringLiteral("Table %1: the table is not open.").arg(table.tableName()));
    return t.conn;
}

} // namespace

ChangeUnit::ChangeUnit(Table& table) : ChangeUnit(connectionOf(table)) {}

ChangeUnit::ChangeUnit(std::shared_ptr<Connection> connection) : m_conn(std::move(connection))
{
    m_conn->beginUnit();
}

ChangeUnit::~ChangeUnit()
{
    if (!m_done)
        m_conn->rollbackUnit();
}

void ChangeUnit::commit()
{
    if (m_done)
        return;
    // Done either way: a release that fails has rolled the unit back itself.
    m_done = true;
    m_conn->releaseUnit();
}

bool ChangeUnit::isOpen(Table& table)
{
    return connectionOf(table)->unitDepth() > 0;
}

quint64 rollbackCount()
{
    return Connection::rollbacks();
}

} // namespace store
