// The write path of a table object: insert, edit, post, cancel and delete.
//
// Every write runs in a change unit (ChangeUnit), nested in the caller's
// when there is one: the change, the journal rows its hooks write, and the
// caller's journal rows commit together or not at all. A row is written only
// when it is still the row that editing started from; another program's
// newer change is never overwritten silently.

#include "store/ChangeUnit.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "store/TablePrivate.h"

#include <optional>

namespace store {

namespace {

// Raw texts compare by their bytes; a raw text and a decoded one, or any
// other values, as values.
bool sameKey(const QVariantList& a, const QVariantList& b)
{
    if (a.size() != b.size())
        return false;
    const QMetaType raw = QMetaType::fromType<RawText>();
    auto plain = [&](const QVariant& v) {
        return v.metaType() == raw ? QVariant(QString::fromUtf8(v.value<RawText>().bytes)) : v;
    };
    for (int i = 0; i < a.size(); ++i) {
        const bool bothRaw = a[i].metaType() == raw && b[i].metaType() == raw;
        if (bothRaw ? a[i] != b[i] : plain(a[i]) != plain(b[i]))
            return false;
    }
    return true;
}

} // namespace

// Reads the row as the file holds it now, by rowid, and checks that it is
// still the row that was read. SQLite reuses the rowids of deleted rows, so a
// rowid alone can name another program's new row: a keyed row must keep its
// key, and a row of a table without a key, having nothing else to tell it
// by, must be the same in every field.
bool Table::Private::readCurrentFromFile(const Row& row, Row* out, bool forWrite)
{
    Row now;
    if (!reloadRow(row.rowId, &now, false, forWrite))
        return false;
    if (!conn->keyColumns().isEmpty()) {
        if (!sameKey(keyOf(now), keyOf(row)))
            return false;
    } else if (!row.partial && !row.packed.isEmpty() && now.packed != row.packed && !conn->onServer()) {
        return false;
    }
    *out = std::move(now);
    return true;
}

void Table::Private::failChanged(const Row& row, const QString& what) const
{
    QStringList parts;
    for (const QVariant& v : keyOf(row))
        parts << (v.metaType() == QMetaType::fromType<RawText>() ? QString::fromUtf8(v.value<RawText>().bytes)
                                                                  : v.toString());
    fail(QStringLiteral("the row with key %1 was changed or deleted by another program; it was not %2.  "
                        "Refresh and try again.")
             .arg(parts.join(QLatin1Char('/')), what));
}

// The window after a write that may have moved the row (an insert, a new
// key): the row alone, read back as stored. The write has committed (or
// joined the caller's unit) by now, so a read-back that fails must not make
// it look failed: the row as written stands in.
void Table::Private::showWrittenRow(qint64 rowId)
{
    Row row;
    bool found = false;
    try {
        found = reloadRow(rowId, &row, true); // a row the filter hides stays out of view
    } catch (const StoreError&) {
    }
    if (!found) {
        row = buffer;
        row.rowId = rowId;
    }
    std::vector<Row> rows;
    rows.push_back(std::move(row));
    setWindow(std::move(rows), true);
    nextPageSize = 16;
}

void Table::insert()
{
    d->requireActive();
    d->postIfEditing();
    d->buffer = Row();
    d->buffer.values.resize(d->conn->columns().size());
    d->dirty.fill(false, d->conn->columns().size());
    d->state = TableState::Insert;
    d->notifyState();
    d->notifyRecord();
    if (onNewRecord)
        onNewRecord(*this);
}

void Table::edit()
{
    d->requireActive();
    if (d->state == TableState::Edit || d->state == TableState::Insert)
        return;
    if (d->pos < 0)
        d->fail(QStringLiteral("there is no row to edit."));
    // Editing starts from the row as the file holds it now, not from the
    // window read earlier; the counter taken first lets post() see whether
    // anybody wrote to the file since.
    const bool sameTransaction = d->stillInTransaction(d->windowSerial);
    const qint64 version = sameTransaction ? d->windowVersion : d->conn->dataVersion();
    const quint64 others = d->othersWrites();
    Row& cached = d->page[size_t(d->pos)];
    const bool fresh = !cached.partial && !cached.packed.isEmpty() && version == d->windowVersion
                       && others == d->windowOthers;
    // On a server, inside a batch's transaction, the row is read for update
    // in a unit of its own (a savepoint, so that a busy row fails the edit
    // alone): nobody can change it before the transaction ends or a rollback
    // gives the lock back, and post need not read it once more.
    const bool hold = !fresh && d->conn->onServer() && d->conn->inBatch();
    d->editHeld = 0;
    if (!fresh) {
        Row now;
        std::optional<ChangeUnit> unit;
        if (hold)
            unit.emplace(d->conn);
        if (!d->readCurrentFromFile(cached, &now, hold))
            d->failChanged(cached, QStringLiteral("opened for editing"));
        if (unit) {
            unit->commit();
            d->editHeld = d->conn->transactionSerial();
            d->editHeldRollbacks = Connection::rollbacks();
        }
        d->fullRows = true;
        d->page[size_t(d->pos)] = std::move(now);
    }
    d->editVersion = version;
    d->editOthers = others;
    d->editSerial = d->conn->inWriteTransaction() ? d->conn->transactionSerial() : 0;
    d->before = d->page[size_t(d->pos)];
    d->buffer = d->before;
    d->buffer.unpack();
    d->dirty.fill(false, d->conn->columns().size());
    d->state = TableState::Edit;
    d->notifyState();
}

qint64 Table::Private::writeInsert()
{
    const qint64 rowId = conn->insertRow(sql.insert, buffer.values);
    conn->countLocalWrite();
    ++ownWrites;
    return rowId;
}

// Writes the changed fields of the row in edit. Returns whether a key field
// changed.
bool Table::Private::writeUpdate()
{
    const auto& cols = conn->columns();
    QVector<int> changed;
    bool keyChanged = false;
    for (int i = 0; i < cols.size(); ++i) {
        if (!dirty[i])
            continue;
        changed << i;
        keyChanged = keyChanged || conn->keyColumns().contains(i);
    }
    if (changed.isEmpty())
        return false;
    if (changed != updateColumns || updateSql.isEmpty()) {
        QStringList sets;
        for (int i : changed)
            sets << quoteIdentifier(cols[i].name) + QLatin1String(" = ?");
        updateSql = QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?").arg(sql.from, sets.join(QLatin1Char(',')));
        updateColumns = changed;
    }
    // The unit's write transaction keeps others out from here on. When the
    // file changed since editing began, the row must still be as it was
    // then, or another program's change would be overwritten.
    const bool held = editHeld != 0 && conn->inBatch() && conn->transactionSerial() == editHeld
                      && Connection::rollbacks() == editHeldRollbacks;
    const bool unchanged = held || stillInTransaction(editSerial) || conn->dataVersion() == editVersion;
    if (!unchanged || othersWrites() != editOthers) {
        Row now;
        if (!reloadRow(before.rowId, &now, false, true) || now.packed != before.packed)
            failChanged(page[size_t(pos)], QStringLiteral("saved"));
    }
    {
        Statement stmt = conn->statement(updateSql);
        int index = 1;
        for (int i : changed)
            stmt.bind(index++, buffer.values[i]);
        stmt.bind(index, buffer.rowId);
        stmt.run();
    }
    conn->countLocalWrite();
    ++ownWrites;
    return keyChanged;
}

void Table::post()
{
    d->requireActive();
    if (d->state == TableState::Browse)
        return;
    ChangeUnit unit(d->conn);
    if (beforePost)
        beforePost(*this);
    if (d->state == TableState::Insert) {
        const qint64 rowId = d->writeInsert();
        unit.commit();
        d->showWrittenRow(rowId);
        d->eof = d->bof = false;
    } else {
        const bool keyChanged = d->writeUpdate();
        unit.commit();
        if (keyChanged) {
            d->showWrittenRow(d->buffer.rowId);
        } else {
            Row updated = d->buffer;
            updated.rawKey = d->keyOf(d->page[size_t(d->pos)]);
            d->page[size_t(d->pos)] = std::move(updated);
        }
    }
    d->state = TableState::Browse;
    d->buffer = Row();
    d->before = Row();
    d->notifyState();
    d->notifyDataSet();
}

void Table::cancel()
{
    d->requireActive();
    if (d->state == TableState::Browse)
        return;
    const bool wasInsert = d->state == TableState::Insert;
    d->state = TableState::Browse;
    d->buffer = Row();
    d->notifyState();
    if (wasInsert)
        d->notifyDataSet();
    d->notifyRecord();
}

// After a delete the cursor moves to the row that followed; after the last
// row it stays on the new last row with Eof set.
void Table::Private::moveOnFrom(const Row& gone)
{
    page.erase(page.begin() + pos);
    if (pos < int(page.size())) {
        eof = false;
        return;
    }
    std::vector<Row> rows;
    if (morePages)
        rows = fetchAfter(gone, nextPageSize);
    if (!rows.empty()) {
        const bool more = int(rows.size()) == nextPageSize;
        setWindow(std::move(rows), more);
        eof = false;
        return;
    }
    Row previous;
    if (!page.empty()) {
        pos = int(page.size()) - 1;
        morePages = false;
        eof = true;
    } else if (fetchBefore(gone, &previous)) {
        std::vector<Row> one;
        one.push_back(std::move(previous));
        setWindow(std::move(one), false);
        eof = true;
    } else {
        setWindow({}, false);
        eof = bof = true;
    }
}

void Table::deleteRecord()
{
    d->requireActive();
    if (d->state == TableState::Insert) {
        cancel();
        return;
    }
    if (d->state == TableState::Edit)
        cancel();
    if (d->pos < 0)
        d->fail(QStringLiteral("there is no row to delete."));
    const Row gone = d->page[size_t(d->pos)];
    {
        ChangeUnit unit(d->conn);
        if (beforeDelete)
            beforeDelete(*this);
        Row now;
        if (!d->readCurrentFromFile(gone, &now, true))
            d->failChanged(gone, QStringLiteral("deleted"));
        Statement stmt = d->conn->statement(d->sql.remove);
        stmt.bind(1, gone.rowId);
        stmt.run();
        d->conn->countLocalWrite();
        ++d->ownWrites;
        unit.commit();
    }
    d->moveOnFrom(gone);
    d->notifyDataSet();
    d->notifyRecord();
}

} // namespace store
