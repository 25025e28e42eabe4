#pragma once

#include "store/Connection.h"
#include "store/Row.h"
#include "store/Table.h"

#include <deque>
#include <vector>

namespace store {

class Table::Private {
public:
    explicit Private(Table* q) : q(q) {}

    Table* q;
    QString alias;
    QString name;
    bool exclusive = false;
    bool lockedExclusive = false;
    std::shared_ptr<Connection> conn;
    std::deque<Field> fields;

    // The cursor: a window of rows in key order and the current position.
    std::vector<Row> page;
    int pos = -1;
    bool morePages = false; // rows may follow the window
    int nextPageSize = 16;
    bool eof = true;
    bool bof = true;

    TableState state = TableState::Inactive;
    Row buffer;               // the row being edited or inserted
    Row before;               // the row as the file held it when editing began
    qint64 editVersion = -1;  // the file's change counter then
    quint64 editOthers = 0;   // writes of this program's other objects then
    // The window is known to match the file while neither another program
    // nor another object of this one has written to it since it was read.
    qint64 windowVersion = -2;
    quint64 windowOthers = 0;
    qint64 lastReadVersion = -3; // taken by every read; a new window adopts it
    quint64 lastReadOthers = 0;
    quint64 lastReadSerial = 0;   // the transaction a read ran in, when a write transaction
    quint64 windowSerial = 0;
    quint64 editSerial = 0;
    quint64 editHeld = 0;          // the server transaction the row in edit was read for update in
    quint64 editHeldRollbacks = 0; // and the rollback count then
    // True when the file cannot have changed since a read made in transaction
    // serial: this program still holds that write transaction.
    bool stillInTransaction(quint64 serial) const
    {
        return serial != 0 && conn->inWriteTransaction() && conn->transactionSerial() == serial;
    }
    quint64 ownWrites = 0;
    quint64 othersWrites() const { return conn->localWrites() - ownWrites; }
    QVector<bool> dirty;
    // The last UPDATE written and the columns it sets: a run of edits of the
    // same fields builds its statement once.
    QVector<int> updateColumns;
    QString updateSql;

    QStringList filterLines;
    QVector<QPair<int, QString>> filter; // column index, value

    int disableCount = 0;
    bool pendingNotify = false;

    Queries sql;
    // Windows read only the key columns until a field outside the key is
    // asked for; from then on this object reads whole rows.
    bool fullRows = false;
    QVector<int> keySlot; // column index -> position among the key columns, or -1

    QString selectSql(const QString& list, const QString& where, const QString& order, bool limited) const;
    QVariant valueAt(int index);
    bool isNullAt(int index);
    void readWholeCurrentRow();
    // stayInTransaction: a read that is part of a write just made (the row
    // read back after a post) joins the open transaction and commits
    // nothing.
    std::vector<Row> run(const QString& sql, const QVariantList& args, int limit, bool stayInTransaction = false);

    void requireActive() const;
    void parseFilter();
    void buildSql();
    const Row* current() const;
    Row readRow(Statement& stmt) const;
    int bindFilter(Statement& stmt, int from = 1) const;
    QVariantList keyOf(const Row& row) const;
    std::vector<Row> fetch(const QString& where, const QVariantList& args, const QString& order, int limit);
    std::vector<Row> fetchAfter(const Row& row, int limit);
    bool fetchBefore(const Row& row, Row* out);
    QString keyCondition(const QVariantList& key, bool after, QVariantList* args) const;
    bool readCurrentFromFile(const Row& row, Row* out, bool forWrite = false);
    [[noreturn]] void failChanged(const Row& row, const QString& what) const;
    bool reloadRow(qint64 rowId, Row* out, bool stayInTransaction = false, bool forWrite = false);
    void setWindow(std::vector<Row> rows, bool more);
    // The write path (TableWrite.cpp).
    qint64 writeInsert();
    bool writeUpdate();
    void showWrittenRow(qint64 rowId);
    void moveOnFrom(const Row& gone);
    void postIfEditing();
    void notifyDataSet();
    void notifyRecord();
    void notifyField(int index);
    void notifyState();
    [[noreturn]] void fail(const QString& message) const;
};

// The store's own modules reach a table object's connection and state here.
struct TableAccess {
    static Table::Private& of(Table& table) { return *table.d; }
};

} // namespace store
