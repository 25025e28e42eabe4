#include "store/Connection.h"

#include "store/Session.h"
#include "store/StoreError.h"
#include "store/pg/PgConnection.h"
#include "store/sqlite/SqliteConnection.h"

#include <algorithm>

namespace store {

namespace {

QHash<QString, std::shared_ptr<Connection>>& pool()
{
    static QHash<QString, std::shared_ptr<Connection>> connections;
    return connections;
}

int g_batchDepth = 0;
quint64 g_rollbacks = 0;
QString g_lostWork; // the first loss not yet raised
// Never destroyed: connections still pooled at exit leave it as they go.
QVector<Connection*>& g_batchMembers = *new QVector<Connection*>;

} // namespace

FieldType fieldTypeOf(const QString& declaredType, int* size)
{
    const QString t = declaredType.trimmed().toUpper();
    *size = 0;
    const int open = t.indexOf(QLatin1Char('('));
    if (open >= 0) {
        const int close = t.indexOf(QLatin1Char(')'), open);
        *size = t.mid(open + 1, close - open - 1).trimmed().toInt();
    }
    const QString base = open >= 0 ? t.left(open).trimmed() : t;
    if (base.contains(QLatin1String("CHAR")) || (base == QLatin1String("TEXT") && *size > 0))
        return FieldType::String;
    if (base == QLatin1String("TEXT") || base == QLatin1String("CLOB") || base == QLatin1String("MEMO"))
        return FieldType::Memo;
    if (base.startsWith(QLatin1String("BOOL")) || base == QLatin1String("LOGICAL"))
        return FieldType::Boolean;
    if (base == QLatin1String("SMALLINT"))
        return FieldType::SmallInt;
    if (base.contains(QLatin1String("INT")))
        return FieldType::Integer;
    if (base == QLatin1String("DATETIME") || base == QLatin1String("TIMESTAMP"))
        return FieldType::DateTime;
    if (base == QLatin1String("DATE"))
        return FieldType::Date;
    if (base == QLatin1String("TIME"))
        return FieldType::Time;
    if (base.contains(QLatin1String("REAL")) || base.contains(QLatin1String("FLOA")) || base.contains(QLatin1String("DOUB"))
        || base == QLatin1String("NUMERIC") || base.startsWith(QLatin1String("DECIMAL")))
        return FieldType::Float;
    return FieldType::Unknown;
}

QString quoteIdentifier(const QString& name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// --- Connection --------------------------------------------------------------

std::shared_ptr<Connection> Connection::acquire(const QString& alias, const QString& tableName)
{
    if (const auto server = Session::instance().serverOf(alias))
        return PgConnection::acquire(*server, tableName);
    return SqliteConnection::acquire(tableFilePath(alias, tableName), tableName);
}

std::shared_ptr<Connection> Connection::pooled(const QString& key)
{
    return pool().value(key);
}

void Connection::registerPooled(const QString& key, const std::shared_ptr<Connection>& conn)
{
    pool().insert(key, conn);
}

void Connection::closeIdle()
{
    // A connection may be pooled under two names; it is idle when nothing
    // but the pool holds it.
    QHash<Connection*, long> entries;
    for (const auto& c : std::as_const(pool()))
        ++entries[c.get()];
    for (auto it = pool().begin(); it != pool().end();) {
        if (it.value().use_count() == entries.value(it.value().get()) && !it.value()->inBatch())
            it = pool().erase(it);
        else
            ++it;
    }
}

Connection::~Connection()
{
    leaveBatchList();
}

QString Connection::qualifiedName() const
{
    return quoteIdentifier(m_sqlName);
}

void Connection::addColumn(const ColumnInfo& column)
{
    const int index = int(m_columns.size());
    m_columnByName.insert(column.name.toLower(), index);
    m_columns.append(column);
    // Names as written find their column without lowering them first; a
    // later column whose name differs only in case takes them over, as it
    // takes over the lowered name.
    for (const ColumnInfo& c : std::as_const(m_columns))
        if (c.name.compare(column.name, Qt::CaseInsensitive) == 0)
            m_columnByExactName.insert(c.name, index);
}

int Connection::columnIndex(const QString& name) const
{
    const auto exact = m_columnByExactName.constFind(name);
    if (exact != m_columnByExactName.constEnd())
        return *exact;
    return m_columnByName.value(name.toLower(), -1);
}

// --- Lost work and rollbacks ----------------------------------------------------

void Connection::noteLostWork(const QString& message)
{
    countRollback();
    if (g_lostWork.isEmpty())
        g_lostWork = message;
}

quint64 Connection::rollbacks() { return g_rollbacks; }
void Connection::countRollback() { ++g_rollbacks; }

// --- Batches -----------------------------------------------------------------

bool Connection::batchAlive() { return g_batchDepth > 0; }
void Connection::enterBatch() { ++g_batchDepth; }
void Connection::leaveBatch() { --g_batchDepth; }

void Connection::joinBatchList()
{
    if (!g_batchMembers.contains(this))
        g_batchMembers.append(this);
}

void Connection::leaveBatchList()
{
    g_batchMembers.removeAll(this);
}

void Connection::commitStale(bool force)
{
    if (!g_lostWork.isEmpty()) {
        const QString lost = g_lostWork;
        g_lostWork.clear();
        throw StoreError(lost);
    }
    if (g_batchMembers.isEmpty())
        return;
    // A connection inside a change unit waits until the unit is complete: its
    // change and journal rows commit together.
    auto due = [force](const Connection* c) { return c->unitDepth() == 0 && (force || c->batchAgeMs() >= kBatchWindowMs); };
    if (!force && std::none_of(g_batchMembers.cbegin(), g_batchMembers.cend(), due))
        return;
    const QVector<Connection*> members = g_batchMembers;
    QString firstError;
    for (Connection* c : members) {
        // A member may have been committed with another one (a server
        // session's tables share one transaction).
        if (!g_batchMembers.contains(c) || !due(c))
            continue;
        try {
            c->commitBatch();
        } catch (const StoreError& e) {
            if (firstError.isEmpty())
                firstError = e.message();
        }
    }
    if (!firstError.isEmpty())
        throw StoreError(firstError);
}

} // namespace store
