#pragma once

#include "store/Field.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <deque>
#include <functional>
#include <memory>

namespace store {

class Connection;
struct Row;

enum class TableState { Inactive, Browse, Edit, Insert };

// One row of a snapshot (see Table::snapshot): its row id and its values in
// field order.
struct RowSnapshot {
    qint64 rowId = 0;
    QVector<QVariant> values;
};

// A table object: a cursor over one table of an alias, in primary-key order
// (row order for tables without a key). Many objects may be open on one
// table; they share this process's connection to the table file.
//
// Opening takes an open-lock on the table in the network control directory:
// shared, or exclusive when Exclusive is set. An exclusive open fails at once
// while any other program holds the table open; any open fails while another
// program holds it exclusively. This program's own objects never block each
// other.
//
// Moving to another row while the current one is in edit or insert state
// posts it first; closing or destroying the object drops it.
class Table : public QObject {
    Q_OBJECT
public:
    explicit Table(QObject* parent = nullptr);
    Table(const QString& databaseName, const QString& tableName, QObject* parent = nullptr);
    ~Table() override;

    void setDatabaseName(const QString& alias);
    QString databaseName() const;
    void setTableName(const QString& name);
    QString tableName() const;
    void setExclusive(bool exclusive); // only while closed
    bool exclusive() const;

    void open();
    void close();
    void setActive(bool active);
    bool active() const;

    // Rows.
    void first();
    void next();
    bool eof() const;
    bool bof() const;
    bool isEmpty();
    int recordCount();
    bool findKey(const QVariantList& keyValues); // values in key order; positions or stays put
    qint64 rowId() const;                        // the current row's identity (0 when none)
    bool gotoRowId(qint64 rowId);                // positions on that row if it still shows
    QStringList keyFields() const;

    // Fields (names match without regard to case).
    Field& fieldByName(const QString& name);
    Field* findField(const QString& name);
    int fieldCount() const;
    Field& field(int index);

    // Changing rows.
    void insert();   // runs OnNewRecord
    void append() { insert(); }
    void edit();
    void post();     // runs BeforePost first
    void cancel();
    void deleteRecord(); // runs BeforeDelete first; the cursor moves to the following row
    TableState state() const;
    bool modified() const;

    std::function<void(Table&)> onNewRecord;
    std::function<void(Table&)> beforePost;
    std::function<void(Table&)> beforeDelete;

    void refresh();
    void disableControls();
    void enableControls();
    bool controlsDisabled() const;

    // Equality filter: each line is a field name, " = " and the value in
    // double quotes (Who = "ABC"); only rows meeting every line show. The
    // value is data: it is compared exactly and never becomes SQL.
    void setFilterLines(const QStringList& lines);
    QStringList filterLines() const;

    // Every row that shows, in key order; used by bound grids.
    QVector<RowSnapshot> snapshot();
    // The same with only the named fields, in the order named, and when
    // matchField is given only the rows whose matchField equals one of
    // matchValues exactly: one read for a walk that needs a few columns of
    // some rows. The values are data, never SQL.
    QVector<RowSnapshot> snapshot(const QStringList& fieldNames, const QString& matchField = QString(),
                                  const QStringList& matchValues = {});
    // Calls visit with the stored values of the named fields of every row that
    // shows, in no particular order, without moving the cursor: a count or a
    // survey that needs a few columns of a large table.
    void scan(const QStringList& fieldNames, const std::function<void(const QVariantList& values)>& visit);
    // The value of one field of the current row buffer, without conversion.
    QVariant rawValue(int index) const;

signals:
    void dataSetChanged();           // opened, closed, rows added, removed or re-read
    void recordChanged();            // another row became current
    void fieldChanged(int index);    // a field of the current row got a new value
    void stateChanged();             // browse / edit / insert / inactive

private:
    friend class Field;
    friend struct TableAccess;
    class Private;
    std::unique_ptr<Private> d;
};

// Groups the writes of a bulk operation into transactions. While a batch is
// alive, posts, deletes and reads on every table file join an open
// transaction on that file. Each file's transaction is committed within about
// 100 ms of its first uncommitted read or write, whatever the batch does
// meanwhile: at every store call, on a timer while events are processed, and
// before a message box is shown (flushBatches), but never in the middle of a
// change unit (ChangeUnit). Without a batch every post is committed at once,
// or with the caller's unit.
//
// A commit that fails raises StoreError from commit() or from the store call
// that ran into it; when the batch ends by its destructor (also while an
// exception unwinds) the failure goes to the batch error handler.
class WriteBatch {
public:
    WriteBatch();
    ~WriteBatch();
    void commit(); // commits now; raises StoreError when a commit fails
    static bool active();
    WriteBatch(const WriteBatch&) = delete;
    WriteBatch& operator=(const WriteBatch&) = delete;
};

// Commits every open batch transaction now, so that nothing stays locked
// while the program waits for the supervisor. A failure goes to the batch
// error handler.
void flushBatches();

// Where failures that no caller can catch are told: a batch ending by its
// destructor, a commit on the batch timer. The default writes to the log;
// the program installs one that shows the application-wide error box.
void setBatchErrorHandler(std::function<void(const QString& message)> handler);
void reportBatchError(const QString& message);

// Copies a live table into a complete, consistent file at destinationPath
// (SQLite's online backup), even while other programs write to it. Returns
// false, changing nothing, when the copy cannot start: the table file is
// missing or cannot be read, or the destination cannot be created. Raises
// StoreError when the copy fails part-way.
bool backupTable(const QString& alias, const QString& tableName, const QString& destinationPath);

// True when the alias holds the table (its file, or its table on the server).
bool tableExists(const QString& alias, const QString& tableName);

} // namespace store
