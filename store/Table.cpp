#include "store/Table.h"

#include "store/FileModes.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/TablePrivate.h"
#include "store/pg/PgConnection.h"
#include "store/sqlite/SqliteConnection.h"

#include <QDir>
#include <QFileInfo>
#include <QVarLengthArray>

#include <algorithm>
#include <cstring>

namespace store {

namespace {
constexpr int kMaxPage = 1024;
// On a server each page is a round trip: larger pages, fewer of them.
constexpr int kMaxServerPage = 4096;
}

// --- Private -----------------------------------------------------------------

void Table::Private::fail(const QString& message) const
{
    throw StoreError(QStringLiteral("Table %1: %2").arg(name, message));
}

void Table::Private::requireActive() const
{
    if (state == TableState::Inactive)
        fail(QStringLiteral("the table is not open."));
}

// Filter lines name fields, so they are resolved against the open table.
// The value is everything between the first and the last double quote.
void Table::Private::parseFilter()
{
    filter.clear();
    for (const QString& line : filterLines) {
        const int eq = line.indexOf(QLatin1Char('='));
        const int q1 = line.indexOf(QLatin1Char('"'));
        const int q2 = line.lastIndexOf(QLatin1Char('"'));
        if (eq <= 0 || q1 < eq || q2 <= q1)
            fail(QStringLiteral("the filter line %1 is not of the form Field = \"value\".").arg(line));
        const QString field = line.left(eq).trimmed();
        const int col = conn->columnIndex(field);
        if (col < 0)
            fail(QStringLiteral("the filter names the field %1, which the table does not have.").arg(field));
        filter.append({col, line.mid(q1 + 1, q2 - q1 - 1)});
    }
}

void Table::Private::buildSql()
{
    const auto& cols = conn->columns();
    updateSql.clear(); // made again from the new pieces when next needed
    keySlot.fill(-1, cols.size());
    for (int i = 0; i < conn->keyColumns().size(); ++i)
        keySlot[conn->keyColumns()[i]] = i;
    if (filter.isEmpty() && conn->unfilteredQueries) {
        sql = *conn->unfilteredQueries;
        return;
    }
    Queries q;
    QStringList names{QStringLiteral("rowid")};
    for (const ColumnInfo& c : cols)
        names << quoteIdentifier(c.name);
    q.selectList = names.join(QLatin1Char(','));
    q.from = conn->qualifiedName();
    QStringList keys;
    for (int k : conn->keyColumns())
        keys << quoteIdentifier(cols[k].name);
    q.keyList = QStringLiteral("rowid") + (keys.isEmpty() ? QString() : QLatin1Char(',') + keys.join(QLatin1Char(',')));
    // When every column is in the key, a key-only read has as many values as
    // a whole row and is taken for one: read it in column order instead.
    if (!keys.isEmpty() && keys.size() == cols.size())
        q.keyList = q.selectList;
    if (keys.isEmpty())
        keys << QStringLiteral("rowid");
    q.keyTuple = QLatin1Char('(') + keys.join(QLatin1Char(',')) + QLatin1Char(')');
    // Files written by other programs may hold NULLs in key columns, even
    // several rows with the same key: rowid settles their order. A server's
    // key is unique and never NULL, and its index then serves the order alone.
    const bool tieBreak = !conn->keyColumns().isEmpty() && !conn->onServer();
    q.orderBy = keys.join(QLatin1Char(',')) + (tieBreak ? QStringLiteral(",rowid") : QString());
    QStringList conds;
    for (const auto& f : filter)
        conds << quoteIdentifier(cols[f.first].name) + QLatin1String(" = ?");
    q.filter = conds.join(QLatin1String(" AND "));
    sql = q; // selectSql below reads the pieces made so far

    QStringList marks, keyConds, insertMarks;
    for (int i = 0; i < keys.size(); ++i)
        marks << QStringLiteral("?");
    for (int k : conn->keyColumns())
        keyConds << quoteIdentifier(cols[k].name) + QLatin1String(" = ?");
    for (int i = 0; i < cols.size(); ++i)
        insertMarks << QStringLiteral("?");
    const QString after = q.keyTuple + QLatin1String(" > (") + marks.join(QLatin1Char(',')) + QLatin1Char(')');
    const QString find = keyConds.join(QLatin1String(" AND "));
    q.first = selectSql(q.selectList, QString(), q.orderBy, true);
    q.after = selectSql(q.selectList, after, q.orderBy, true);
    q.firstKeys = selectSql(q.keyList, QString(), q.orderBy, true);
    q.afterKeys = selectSql(q.keyList, after, q.orderBy, true);
    if (!keyConds.isEmpty()) {
        q.find = selectSql(q.selectList, find, QString(), true);
        q.findKeys = selectSql(q.keyList, find, QString(), true);
    }
    q.rowId = selectSql(q.selectList, QStringLiteral("rowid = ?"), QString(), false);
    // On a server a write transaction keeps nobody else out of the table:
    // the row checked before a change is locked until the change commits.
    q.rowIdForWrite = q.rowId + (conn->onServer() ? QStringLiteral(" FOR UPDATE") : QString());
    names.removeFirst();
    q.insert = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                   .arg(q.from, names.join(QLatin1Char(',')), insertMarks.join(QLatin1Char(',')));
    q.remove = QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(q.from);
    sql = q;
    if (filter.isEmpty())
        conn->unfilteredQueries = q;
}

const Row* Table::Private::current() const
{
    if (state == TableState::Edit || state == TableState::Insert)
        return &buffer;
    if (pos >= 0 && pos < int(page.size()))
        return &page[size_t(pos)];
    return nullptr;
}

Row Table::Private::readRow(Statement& stmt) const
{
    Row row;
    stmt.readRow(row);
    row.partial = row.count() < int(conn->columns().size());
    return row;
}

int Row::count() const
{
    if (packed.isEmpty())
        return int(values.size());
    return int(reinterpret_cast<const quint32*>(packed.constData())[0]);
}

QVariant Row::value(int index) const
{
    if (packed.isEmpty())
        return index >= 0 && index < values.size() ? values[index] : QVariant();
    const char* base = packed.constData();
    const auto* offsets = reinterpret_cast<const quint32*>(base);
    if (index < 0 || index >= int(offsets[0]))
        return QVariant();
    const char* p = base + offsets[index + 1];
    const int bytes = int(offsets[index + 2] - offsets[index + 1]) - 1;
    switch (*p) {
    case kPackedInt: {
        qint64 v;
        std::memcpy(&v, p + 1, 8);
        return QVariant(v);
    }
    case kPackedFloat: {
        double v;
        std::memcpy(&v, p + 1, 8);
        return QVariant(v);
    }
    case kPackedText: return QVariant(QString::fromUtf8(p + 1, bytes));
    case kPackedBlob: return QVariant(QByteArray(p + 1, bytes));
    default: return QVariant();
    }
}

bool Row::isNull(int index) const
{
    if (packed.isEmpty())
        return index < 0 || index >= values.size() || !values[index].isValid() || values[index].isNull();
    const auto* offsets = reinterpret_cast<const quint32*>(packed.constData());
    if (index < 0 || index >= int(offsets[0]))
        return true;
    return packed.constData()[offsets[index + 1]] == kPackedNull;
}

QVariant Row::rawValue(int index) const
{
    if (packed.isEmpty())
        return value(index);
    const char* base = packed.constData();
    const auto* offsets = reinterpret_cast<const quint32*>(base);
    if (index < 0 || index >= int(offsets[0]))
        return QVariant();
    const char* p = base + offsets[index + 1];
    if (*p != kPackedText)
        return value(index);
    const int bytes = int(offsets[index + 2] - offsets[index + 1]) - 1;
    return QVariant::fromValue(RawText{QByteArray(p + 1, bytes)});
}

void Row::unpack()
{
    if (packed.isEmpty())
        return;
    const int n = count();
    values.resize(n);
    for (int i = 0; i < n; ++i)
        values[i] = value(i);
    packed.clear();
}

int Table::Private::bindFilter(Statement& stmt, int index) const
{
    for (const auto& f : filter)
        stmt.bind(index++, f.second);
    return index;
}

QVariantList Table::Private::keyOf(const Row& row) const
{
    QVariantList key;
    if (conn->keyColumns().isEmpty()) {
        key << row.rowId;
    } else if (!row.rawKey.isEmpty()) {
        key = row.rawKey;
    } else {
        const auto& keys = conn->keyColumns();
        for (int i = 0; i < keys.size(); ++i)
            key << row.rawValue(row.partial ? i : keys[i]);
    }
    return key;
}

QString Table::Private::selectSql(const QString& list, const QString& where, const QString& order, bool limited) const
{
    QString text = QStringLiteral("SELECT %1 FROM %2").arg(list, sql.from);
    QStringList conds;
    if (!sql.filter.isEmpty())
        conds << sql.filter;
    if (!where.isEmpty())
        conds << where;
    if (!conds.isEmpty())
        text += QLatin1String(" WHERE ") + conds.join(QLatin1String(" AND "));
    if (!order.isEmpty())
        text += QLatin1String(" ORDER BY ") + order;
    if (limited)
        text += QLatin1String(" LIMIT ?");
    return text;
}

std::vector<Row> Table::Private::run(const QString& sql, const QVariantList& args, int limit, bool stayInTransaction)
{
    conn->beginRead(!stayInTransaction);
    // Taken before the rows: a change that lands in between makes the
    // window look older than it is, never newer.
    lastReadOthers = othersWrites();
    lastReadSerial = conn->inWriteTransaction() ? conn->transactionSerial() : 0;
    std::vector<Row> rows;
    {
        Statement stmt = conn->statement(sql);
        int index = bindFilter(stmt);
        for (const QVariant& a : args)
            stmt.bind(index++, a);
        if (limit > 0)
            stmt.bind(index, limit);
        // The file's version is asked for while the first row is read, in
        // the same read transaction: it is the version of the rows read, and
        // costs no transaction of its own. A read that found nothing has
        // ended its transaction already; its window never counts as fresh.
        lastReadVersion = -3;
        if (stmt.step()) {
            lastReadVersion = conn->dataVersion();
            do
                rows.push_back(readRow(stmt));
            while (stmt.step());
        }
    }
    conn->endRead();
    return rows;
}

std::vector<Row> Table::Private::fetch(const QString& where, const QVariantList& args, const QString& order, int limit)
{
    return run(selectSql(sql.selectList, where, order, limit > 0), args, limit);
}

namespace {

bool isNull(const QVariant& v)
{
    return !v.isValid() || v.isNull();
}

} // namespace

// The rows after (or before) a row in key order, for keys that may hold
// NULLs: NULL sorts first, and rows with equal keys go by rowid.
QString Table::Private::keyCondition(const QVariantList& key, bool after, QVariantList* args) const
{
    const auto& cols = conn->columns();
    const auto& keys = conn->keyColumns();
    QStringList alternatives;
    QStringList equalPrefix;
    QVariantList prefixArgs;
    auto equal = [&](const QString& column, const QVariant& v) {
        return isNull(v) ? column + QLatin1String(" IS NULL") : column + QLatin1String(" = ?");
    };
    for (int i = 0; i <= keys.size(); ++i) {
        const bool last = i == keys.size();
        const QString column = last ? QStringLiteral("rowid") : quoteIdentifier(cols[keys[i]].name);
        const QVariant v = last ? QVariant(qint64(0)) : key.value(i);
        QString beyond;
        QVariantList beyondArgs;
        if (last) {
            beyond = column + (after ? QLatin1String(" > ?") : QLatin1String(" < ?"));
            beyondArgs << key.value(keys.size());
        } else if (isNull(v)) {
            beyond = after ? column + QLatin1String(" IS NOT NULL") : QStringLiteral("0");
        } else {
            beyond = after ? column + QLatin1String(" > ?")
                           : QLatin1Char('(') + column + QLatin1String(" < ? OR ") + column + QLatin1String(" IS NULL)");
            beyondArgs << v;
        }
        alternatives << QLatin1Char('(') + (equalPrefix + QStringList{beyond}).join(QLatin1String(" AND ")) + QLatin1Char(')');
        *args += prefixArgs;
        *args += beyondArgs;
        if (!last) {
            equalPrefix << equal(column, v);
            if (!isNull(v))
                prefixArgs << v;
        }
    }
    return QLatin1Char('(') + alternatives.join(QLatin1String(" OR ")) + QLatin1Char(')');
}

std::vector<Row> Table::Private::fetchAfter(const Row& row, int limit)
{
    const QVariantList key = keyOf(row);
    if (conn->keyColumns().isEmpty() || std::none_of(key.begin(), key.end(), isNull))
        return run(fullRows ? sql.after : sql.afterKeys, key, limit);
    QVariantList args;
    const QString where = keyCondition(key + QVariantList{row.rowId}, true, &args);
    return run(selectSql(fullRows ? sql.selectList : sql.keyList, where, sql.orderBy, true), args, limit);
}

bool Table::Private::fetchBefore(const Row& row, Row* out)
{
    QStringList desc;
    for (const QString& k : sql.orderBy.split(QLatin1Char(',')))
        desc << k + QLatin1String(" DESC");
    QVariantList args;
    QString where;
    if (conn->keyColumns().isEmpty()) {
        where = QStringLiteral("rowid < ?");
        args << row.rowId;
    } else {
        where = keyCondition(keyOf(row) + QVariantList{row.rowId}, false, &args);
    }
    auto rows = fetch(where, args, desc.join(QLatin1Char(',')), 1);
    if (rows.empty())
        return false;
    *out = std::move(rows.front());
    return true;
}

bool Table::Private::reloadRow(qint64 rowId, Row* out, bool stayInTransaction, bool forWrite)
{
    // A read inside a write never commits: it belongs to the write.
    auto rows = run(forWrite ? sql.rowIdForWrite : sql.rowId, {rowId}, 0, stayInTransaction || forWrite);
    if (rows.empty())
        return false;
    *out = std::move(rows.front());
    return true;
}

QVariant Table::Private::valueAt(int index)
{
    if (state == TableState::Edit || state == TableState::Insert)
        return buffer.value(index);
    if (pos < 0 || pos >= int(page.size()))
        return QVariant();
    const Row& row = page[size_t(pos)];
    if (row.partial) {
        const int slot = index >= 0 && index < keySlot.size() ? keySlot[index] : -1;
        if (slot >= 0)
            return row.value(slot);
        readWholeCurrentRow();
    }
    return page[size_t(pos)].value(index);
}

bool Table::Private::isNullAt(int index)
{
    if (state == TableState::Edit || state == TableState::Insert)
        return buffer.isNull(index);
    if (pos < 0 || pos >= int(page.size()))
        return true;
    if (page[size_t(pos)].partial) {
        const QVariant v = valueAt(index);
        return !v.isValid() || v.isNull();
    }
    return page[size_t(pos)].isNull(index);
}

void Table::Private::readWholeCurrentRow()
{
    Row& row = page[size_t(pos)];
    if (!row.partial)
        return;
    fullRows = true;
    Row whole;
    if (!reloadRow(row.rowId, &whole)) {
        // Another program deleted the row since it was read: its other
        // fields read as blank.
        whole.rowId = row.rowId;
        whole.values.resize(conn->columns().size());
        for (int i = 0; i < conn->keyColumns().size(); ++i)
            whole.values[conn->keyColumns()[i]] = row.value(i);
    }
    row = std::move(whole);
    // The rest of the window lacks its other columns; read on afresh.
    if (pos + 1 < int(page.size())) {
        page.resize(size_t(pos) + 1);
        morePages = true;
    }
}

void Table::Private::setWindow(std::vector<Row> rows, bool more)
{
    // The rows come from the read just made (rows built from the edit
    // buffer are never taken as fresh: they are not packed).
    windowVersion = lastReadVersion;
    windowOthers = lastReadOthers;
    windowSerial = lastReadSerial;
    page = std::move(rows);
    pos = page.empty() ? -1 : 0;
    morePages = more;
}

void Table::Private::postIfEditing()
{
    if (state == TableState::Edit || state == TableState::Insert)
        q->post();
}

void Table::Private::notifyDataSet()
{
    if (disableCount > 0) {
        pendingNotify = true;
        return;
    }
    emit q->dataSetChanged();
}

void Table::Private::notifyRecord()
{
    if (disableCount > 0) {
        pendingNotify = true;
        return;
    }
    emit q->recordChanged();
}

void Table::Private::notifyField(int index)
{
    if (disableCount > 0) {
        pendingNotify = true;
        return;
    }
    emit q->fieldChanged(index);
}

void Table::Private::notifyState()
{
    if (disableCount > 0) {
        pendingNotify = true;
        return;
    }
    emit q->stateChanged();
}

// --- Table -------------------------------------------------------------------

Table::Table(QObject* parent) : QObject(parent), d(std::make_unique<Private>(this)) {}

Table::Table(const QString& databaseName, const QString& tableName, QObject* parent) : Table(parent)
{
    d->alias = databaseName;
    d->name = tableName;
}

Table::~Table()
{
    if (d->state != TableState::Inactive) {
        d->disableCount = 1; // nobody listens any more
        close();
    }
}

void Table::setDatabaseName(const QString& alias)
{
    if (active())
        d->fail(QStringLiteral("cannot change the alias of an open table."));
    d->alias = alias;
}

QString Table::databaseName() const { return d->alias; }

void Table::setTableName(const QString& name)
{
    if (active())
        d->fail(QStringLiteral("cannot change the name of an open table."));
    d->name = name;
}

QString Table::tableName() const { return d->name; }

void Table::setExclusive(bool exclusive)
{
    if (active())
        d->fail(QStringLiteral("Exclusive can only be set while the table is closed."));
    d->exclusive = exclusive;
}

bool Table::exclusive() const { return d->exclusive; }

void Table::open()
{
    if (active())
        return;
    if (d->name.trimmed().isEmpty())
        throw StoreError(QStringLiteral("A table object has no table name."));
    // The lock comes first: no file of a table is touched before the
    // network control directory is known.
    if (Session::instance().netFileDir().trimmed().isEmpty())
        d->fail(QStringLiteral("cannot be opened: the network control directory has not been set."));
    if (!Session::instance().netFileDirUsable())
        d->fail(QStringLiteral("cannot be opened: the network control directory %1 does not exist.")
                    .arg(QDir::toNativeSeparators(Session::instance().netFileDir())));
    std::shared_ptr<Connection> conn = Connection::acquire(d->alias, d->name);
    conn->checkPassword();
    conn->lock(d->exclusive);
    d->conn = conn;
    d->lockedExclusive = d->exclusive;
    try {
        // Field objects are never removed while the table object lives, so
        // references to them stay valid across close and open.
        while (d->fields.size() < size_t(conn->columns().size()))
            d->fields.push_back(Field(this, int(d->fields.size())));
        d->parseFilter();
        d->buildSql();
        d->fullRows = false;
        d->state = TableState::Browse;
        d->nextPageSize = 1;
        auto rows = d->run(d->sql.firstKeys, {}, d->nextPageSize);
        const bool more = int(rows.size()) == d->nextPageSize;
        d->setWindow(std::move(rows), more);
        d->eof = d->bof = d->page.empty();
    } catch (...) {
        d->state = TableState::Inactive;
        conn->unlock(d->lockedExclusive);
        d->conn.reset();
        throw;
    }
    d->notifyState();
    d->notifyDataSet();
}

void Table::close()
{
    if (!active())
        return;
    d->state = TableState::Inactive;
    d->page.clear();
    d->pos = -1;
    d->eof = d->bof = true;
    d->conn->unlock(d->lockedExclusive);
    d->conn.reset();
    d->notifyState();
    d->notifyDataSet();
}

void Table::setActive(bool active)
{
    active ? open() : close();
}

bool Table::active() const { return d->state != TableState::Inactive; }

void Table::first()
{
    d->requireActive();
    d->postIfEditing();
    d->nextPageSize = 16;
    auto rows = d->run(d->fullRows ? d->sql.first : d->sql.firstKeys, {}, d->nextPageSize);
    const bool more = int(rows.size()) == d->nextPageSize;
    d->setWindow(std::move(rows), more);
    d->eof = d->bof = d->page.empty();
    d->notifyRecord();
}

void Table::next()
{
    d->requireActive();
    d->postIfEditing();
    if (d->pos < 0) {
        d->eof = true;
        return;
    }
    d->bof = false;
    if (d->pos + 1 < int(d->page.size())) {
        ++d->pos;
        d->notifyRecord();
        return;
    }
    if (d->morePages) {
        d->nextPageSize = qMin(d->conn->onServer() ? kMaxServerPage : kMaxPage, d->nextPageSize * 4);
        auto rows = d->fetchAfter(d->page[size_t(d->pos)], d->nextPageSize);
        if (!rows.empty()) {
            const bool more = int(rows.size()) == d->nextPageSize;
            d->setWindow(std::move(rows), more);
            d->notifyRecord();
            return;
        }
        d->morePages = false;
    }
    d->eof = true;
}

bool Table::eof() const { return d->state == TableState::Inactive || d->eof; }
bool Table::bof() const { return d->state == TableState::Inactive || d->bof; }

bool Table::isEmpty()
{
    d->requireActive();
    if (d->pos >= 0)
        return false;
    return d->fetch(QString(), {}, QString(), 1).empty();
}

int Table::recordCount()
{
    d->requireActive();
    QString text = QStringLiteral("SELECT count(*) FROM %1").arg(d->sql.from);
    if (!d->sql.filter.isEmpty())
        text += QLatin1String(" WHERE ") + d->sql.filter;
    Statement stmt = d->conn->statement(text);
    d->bindFilter(stmt);
    return stmt.step() ? int(stmt.columnInt(0)) : 0;
}

bool Table::findKey(const QVariantList& keyValues)
{
    d->requireActive();
    d->postIfEditing();
    const auto& keys = d->conn->keyColumns();
    if (keys.isEmpty())
        d->fail(QStringLiteral("has no primary key to search."));
    if (keyValues.isEmpty() || keyValues.size() > keys.size())
        d->fail(QStringLiteral("a key search needs 1 to %1 values.").arg(keys.size()));
    QStringList conds;
    if (keyValues.size() < keys.size())
        for (int i = 0; i < keyValues.size(); ++i)
            conds << quoteIdentifier(d->conn->columns()[keys[i]].name) + QLatin1String(" = ?");
    const bool whole = keyValues.size() == keys.size();
    auto rows = whole ? d->run(d->fullRows ? d->sql.find : d->sql.findKeys, keyValues, 1)
                      : d->fetch(conds.join(QLatin1String(" AND ")), keyValues, d->sql.orderBy, 1);
    if (rows.empty())
        return false;
    d->setWindow(std::move(rows), true);
    d->nextPageSize = 16;
    d->eof = d->bof = false;
    d->notifyRecord();
    return true;
}

qint64 Table::rowId() const
{
    const Row* row = d->current();
    return row ? row->rowId : 0;
}

bool Table::gotoRowId(qint64 rowId)
{
    d->requireActive();
    if (d->state == TableState::Browse && d->pos >= 0 && d->page[size_t(d->pos)].rowId == rowId)
        return true;
    d->postIfEditing();
    Row row;
    if (!d->reloadRow(rowId, &row))
        return false;
    std::vector<Row> rows;
    rows.push_back(std::move(row));
    d->setWindow(std::move(rows), true);
    d->nextPageSize = 16;
    d->eof = d->bof = false;
    d->notifyRecord();
    return true;
}

QStringList Table::keyFields() const
{
    d->requireActive();
    QStringList names;
    for (int k : d->conn->keyColumns())
        names << d->conn->columns()[k].name;
    return names;
}

Field& Table::fieldByName(const QString& name)
{
    Field* f = findField(name);
    if (!f) {
        d->requireActive();
        d->fail(QStringLiteral("there is no field %1.").arg(name));
    }
    return *f;
}

Field* Table::findField(const QString& name)
{
    if (!active())
        return nullptr;
    const int index = d->conn->columnIndex(name);
    return index < 0 ? nullptr : &d->fields[size_t(index)];
}

int Table::fieldCount() const { return active() ? int(d->conn->columns().size()) : 0; }

Field& Table::field(int index)
{
    d->requireActive();
    if (index < 0 || index >= fieldCount())
        d->fail(QStringLiteral("there is no field number %1.").arg(index));
    return d->fields[size_t(index)];
}

TableState Table::state() const { return d->state; }

bool Table::modified() const
{
    return (d->state == TableState::Edit || d->state == TableState::Insert) && d->dirty.contains(true);
}

void Table::refresh()
{
    d->requireActive();
    d->postIfEditing();
    Row row;
    const bool hadRow = d->pos >= 0;
    const Row old = hadRow ? d->page[size_t(d->pos)] : Row();
    if (hadRow && d->readCurrentFromFile(old, &row)) {
        std::vector<Row> rows;
        rows.push_back(std::move(row));
        d->setWindow(std::move(rows), true);
        d->eof = d->bof = false;
    } else if (hadRow) {
        // The row went: go on with the one that followed it, or the last.
        auto rows = d->fetchAfter(old, 16);
        if (!rows.empty()) {
            const bool more = rows.size() == 16;
            d->setWindow(std::move(rows), more);
            d->eof = d->bof = false;
        } else if (d->fetchBefore(old, &row)) {
            std::vector<Row> one;
            one.push_back(std::move(row));
            d->setWindow(std::move(one), false);
            d->eof = false;
            d->bof = false;
        } else {
            d->setWindow({}, false);
            d->eof = d->bof = true;
        }
    } else {
        auto rows = d->fetch(QString(), {}, d->sql.orderBy, 16);
        const bool more = rows.size() == 16;
        d->setWindow(std::move(rows), more);
        d->eof = d->bof = d->page.empty();
    }
    d->nextPageSize = 16;
    d->notifyDataSet();
    d->notifyRecord();
}

void Table::disableControls() { ++d->disableCount; }

void Table::enableControls()
{
    if (d->disableCount == 0)
        return;
    if (--d->disableCount == 0 && d->pendingNotify) {
        d->pendingNotify = false;
        emit dataSetChanged();
        emit recordChanged();
    }
}

bool Table::controlsDisabled() const { return d->disableCount > 0; }

void Table::setFilterLines(const QStringList& lines)
{
    QStringList kept;
    for (const QString& line : lines)
        if (!line.trimmed().isEmpty())
            kept << line;
    d->filterLines = kept;
    if (!active())
        return;
    // Re-open the cursor with the new conditions, keeping the lock.
    d->postIfEditing();
    d->parseFilter();
    d->buildSql();
    first();
    d->notifyDataSet();
}

QStringList Table::filterLines() const { return d->filterLines; }

QVector<RowSnapshot> Table::snapshot()
{
    d->requireActive();
    QVector<RowSnapshot> result;
    for (Row& row : d->fetch(QString(), {}, d->sql.orderBy, 0)) {
        row.unpack();
        result.append(RowSnapshot{row.rowId, std::move(row.values)});
    }
    return result;
}

QVector<RowSnapshot> Table::snapshot(const QStringList& fieldNames, const QString& matchField,
                                     const QStringList& matchValues)
{
    d->requireActive();
    auto column = [this](const QString& name) {
        const int c = d->conn->columnIndex(name);
        if (c < 0)
            d->fail(QStringLiteral("there is no field %1.").arg(name));
        return quoteIdentifier(d->conn->columns()[c].name);
    };
    QStringList list{QStringLiteral("rowid")};
    for (const QString& name : fieldNames)
        list << column(name);
    QString where;
    QVariantList args;
    if (!matchField.isEmpty()) {
        if (matchValues.isEmpty())
            return {};
        QStringList marks;
        for (const QString& v : matchValues) {
            marks << QStringLiteral("?");
            args << v;
        }
        where = column(matchField) + QLatin1String(" IN (") + marks.join(QLatin1Char(',')) + QLatin1Char(')');
    }
    // Straight into values: no window reads these rows.
    QVector<RowSnapshot> result;
    d->conn->beginRead();
    {
        Statement stmt = d->conn->statement(d->selectSql(list.join(QLatin1Char(',')), where, d->sql.orderBy, false));
        int index = d->bindFilter(stmt);
        for (const QVariant& a : args)
            stmt.bind(index++, a);
        const int n = int(fieldNames.size());
        while (stmt.step()) {
            RowSnapshot row{stmt.columnInt(0), QVariantList(n)};
            for (int i = 0; i < n; ++i)
                row.values[i] = stmt.column(i + 1);
            result.append(std::move(row));
        }
    }
    d->conn->endRead();
    return result;
}

void Table::scan(const QStringList& fieldNames, const std::function<void(const QVariantList&)>& visit)
{
    d->requireActive();
    QStringList list;
    for (const QString& name : fieldNames) {
        const int c = d->conn->columnIndex(name);
        if (c < 0)
            d->fail(QStringLiteral("there is no field %1.").arg(name));
        list << quoteIdentifier(d->conn->columns()[c].name);
    }
    if (list.isEmpty())
        list << QStringLiteral("1");
    d->conn->beginRead();
    {
        Statement stmt = d->conn->statement(d->selectSql(list.join(QLatin1Char(',')), QString(), QString(), false));
        d->bindFilter(stmt);
        QVariantList values(fieldNames.size());
        while (stmt.step()) {
            for (int i = 0; i < values.size(); ++i)
                values[i] = stmt.column(i);
            visit(values);
        }
    }
    d->conn->endRead();
}

QVariant Table::rawValue(int index) const
{
    return d->valueAt(index);
}

// --- Backup ------------------------------------------------------------------

bool tableExists(const QString& alias, const QString& tableName)
{
    if (const auto server = Session::instance().serverOf(alias))
        return serverTableExists(*server, tableName);
    return QFileInfo(tableFilePath(alias, tableName)).isFile();
}

bool backupTable(const QString& alias, const QString& tableName, const QString& destinationPath)
{
    if (const auto server = Session::instance().serverOf(alias))
        return backupServerTable(*server, tableName, destinationPath);
    return backupTableFile(tableFilePath(alias, tableName), tableName, destinationPath);
}

} // namespace store
