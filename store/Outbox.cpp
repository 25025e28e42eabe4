#include "store/Outbox.h"

#include "store/pg/PgConnection.h"
#include "store/sqlite/SqliteConnection.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/TablePrivate.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <libpq-fe.h>
#include <sqlite3.h>

namespace store {

namespace {

const QString kOutbox = QStringLiteral("brisel_outbox");
const QString kJournalFile = QStringLiteral("merge.db");

// Files whose committed outbox rows could not be moved yet, in the order
// their rows committed: older rows go first, and nothing overtakes them.
QStringList& waiting()
{
    static QStringList paths;
    return paths;
}

QString journalPathBeside(const QString& tablePath)
{
    return QFileInfo(tablePath).absolutePath() + QLatin1Char('/') + kJournalFile;
}

QStringList quotedNames(const QVector<ColumnInfo>& columns)
{
    QStringList names;
    for (const ColumnInfo& c : columns)
        names << quoteIdentifier(c.name);
    return names;
}

QString marks(int count)
{
    QStringList m;
    for (int i = 0; i < count; ++i)
        m << QStringLiteral("?");
    return m.join(QLatin1Char(','));
}

// The outbox has the journal table's columns, so its rows copy across as
// they are stored.
void ensureOutbox(SqliteConnection& file, const SqliteConnection& journal)
{
    if (file.outboxReady)
        return;
    QStringList columns{QStringLiteral("brisel_seq INTEGER PRIMARY KEY"), QStringLiteral("brisel_after INTEGER")};
    for (const ColumnInfo& c : journal.columns())
        columns << quoteIdentifier(c.name) + QLatin1Char(' ') + c.declaredType;
    file.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (%2)").arg(kOutbox, columns.join(QLatin1Char(','))));
    file.outboxReady = true;
}

bool hasOutbox(SqliteConnection& file)
{
    if (file.outboxReady)
        return true;
    Statement stmt = file.statement(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='table' AND name='%1'").arg(kOutbox));
    file.outboxReady = stmt.step();
    return file.outboxReady;
}

struct OutboxRow {
    qint64 seq = 0;
    bool wasStarted = false; // a move began before and may have reached merge.db
    QVariantList values;
};

// Holds a shared open-lock on the journal table for the length of a move, as
// any program that writes it does.
struct JournalLock {
    SqliteConnection& journal;
    explicit JournalLock(SqliteConnection& c) : journal(c) { journal.lock(false); }
    ~JournalLock() { journal.unlock(false); }
};

struct BusyTimeout {
    SqliteConnection& c;
    explicit BusyTimeout(SqliteConnection& conn, int ms) : c(conn) { sqlite3_busy_timeout(c.db(), ms); }
    ~BusyTimeout() { sqlite3_busy_timeout(c.db(), Session::instance().busyTimeout()); }
};

// True when merge.db already holds this row beyond the point the earlier
// move recorded; the row is then not written again.
bool alreadyMoved(SqliteConnection& journal, const QStringList& names, const OutboxRow& row, qint64 after, QSet<qint64>& matched)
{
    QStringList conds{QStringLiteral("rowid > ?")};
    for (const QString& n : names)
        conds << n + QLatin1String(" IS ?");
    Statement find = journal.statement(QStringLiteral("SELECT rowid FROM %1 WHERE %2 ORDER BY rowid")
                                           .arg(quoteIdentifier(journal.sqlName()), conds.join(QLatin1String(" AND "))));
    find.bind(1, after);
    for (int i = 0; i < row.values.size(); ++i)
        find.bind(i + 2, row.values[i]);
    while (find.step()) {
        const qint64 id = find.columnInt(0);
        if (!matched.contains(id)) {
            matched.insert(id);
            return true;
        }
    }
    return false;
}

// Copies the file's outbox rows into merge.db through the journal's own
// connection (a statement across both files would make each move several
// times slower). Rows that were on their way when an earlier move was
// interrupted go only if merge.db does not hold them already.
bool moveRows(SqliteConnection& file, SqliteConnection& journal)
{
    const QStringList names = quotedNames(journal.columns());
    qint64 lastSeq = 0;
    std::vector<OutboxRow> rows;
    qint64 earliestAfter = -1;
    {
        Statement read = file.statement(QStringLiteral("SELECT brisel_seq, brisel_after, %1 FROM %2 ORDER BY brisel_seq")
                                            .arg(names.join(QLatin1Char(',')), kOutbox));
        // Texts travel as their stored bytes: no round trip through QString.
        Row packed;
        while (read.step()) {
            read.readRow(packed); // the sequence as its rowid, then brisel_after and the fields
            OutboxRow row;
            row.seq = packed.rowId;
            const QVariant after = packed.value(0);
            row.wasStarted = after.isValid() && !after.isNull();
            if (row.wasStarted && (earliestAfter < 0 || after.toLongLong() < earliestAfter))
                earliestAfter = after.toLongLong();
            row.values.reserve(names.size());
            for (int i = 0; i < names.size(); ++i)
                row.values << packed.rawValue(i + 1);
            rows.push_back(std::move(row));
        }
    }
    if (rows.empty())
        return true;
    lastSeq = rows.back().seq;

    // Record how far merge.db went before this move, so that a crash after
    // its commit is recognised next time instead of writing the rows twice.
    qint64 journalEnd = 0;
    {
        Statement end = journal.statement(QStringLiteral("SELECT coalesce(max(rowid), 0) FROM %1").arg(quoteIdentifier(journal.sqlName())));
        if (end.step())
            journalEnd = end.columnInt(0);
    }
    {
        Statement mark = file.statement(QStringLiteral("UPDATE %1 SET brisel_after = ? WHERE brisel_after IS NULL AND brisel_seq <= ?").arg(kOutbox));
        mark.bind(1, journalEnd);
        mark.bind(2, lastSeq);
        mark.run();
    }

    journal.exec(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        QSet<qint64> matched;
        Statement insert = journal.statement(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                                 .arg(quoteIdentifier(journal.sqlName()), names.join(QLatin1Char(',')), marks(int(names.size()))));
        for (const OutboxRow& row : rows) {
            if (row.wasStarted && alreadyMoved(journal, names, row, earliestAfter, matched))
                continue;
            for (int i = 0; i < row.values.size(); ++i)
                insert.bind(i + 1, row.values[i]);
            insert.run();
            insert.reset();
        }
        journal.exec(QStringLiteral("COMMIT"));
    } catch (...) {
        sqlite3_exec(journal.db(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }

    Statement done = file.statement(QStringLiteral("DELETE FROM %1 WHERE brisel_seq <= ?").arg(kOutbox));
    done.bind(1, lastSeq);
    done.run();
    return true;
}

// One attempt; busyMs is how long merge.db may keep it waiting.
bool tryMove(SqliteConnection& file, int busyMs, QString* error)
{
    try {
        const QString journalPath = journalPathBeside(file.path());
        if (!QFileInfo(journalPath).isFile()) {
            *error = QStringLiteral("there is no journal file %1").arg(QDir::toNativeSeparators(journalPath));
            return false;
        }
        std::shared_ptr<SqliteConnection> journal = SqliteConnection::acquire(journalPath, QStringLiteral("merge"));
        journal->checkPassword();
        // One mover per file at a time, in every program: two moves of the
        // same rows would both find them and write them twice.
        SqliteConnection::MoverLock mover(file, busyMs);
        JournalLock lock(*journal);
        BusyTimeout busy(*journal, busyMs);
        BusyTimeout fileBusy(file, busyMs);
        return moveRows(file, *journal);
    } catch (const StoreError& e) {
        *error = e.message();
        return false;
    }
}

// The journal row's values in their stored forms. The fields are looked up
// in the journal and the insert into `into` is made only when they differ
// from the last row's, which they seldom do.
QVariantList journalRow(const Connection& journal, const JournalValues& values, JournalShape& shape, const QString& into)
{
    bool same = shape.journal == &journal && shape.names.size() == values.size();
    for (int i = 0; same && i < values.size(); ++i)
        same = shape.names[i] == values[i].first;
    if (!same) {
        JournalShape fresh;
        fresh.journal = &journal;
        QStringList quoted;
        for (const auto& v : values) {
            const int col = journal.columnIndex(v.first);
            if (col < 0)
                throw JournalLayoutError(QStringLiteral("Table merge has no field %1.").arg(v.first));
            fresh.names << v.first;
            fresh.columns << col;
            quoted << quoteIdentifier(journal.columns()[col].name);
        }
        fresh.insert = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                           .arg(into, quoted.join(QLatin1Char(',')), marks(int(values.size())));
        shape = std::move(fresh);
    }
    QVariantList stored;
    stored.reserve(values.size());
    for (int i = 0; i < values.size(); ++i)
        stored << storedValue(journal.columns()[shape.columns[i]].type, values[i].second);
    return stored;
}

void insertRow(Statement& insert, const QVariantList& values)
{
    for (int i = 0; i < values.size(); ++i)
        insert.bind(i + 1, values[i]);
    insert.run();
}

// On a server the journal table is in the same database: the row goes
// straight into it, in the transaction that holds the change. Like any
// program that writes it, this one holds merge open (shared) meanwhile, so a
// program that has it exclusively is never written past.
void writeServerJournal(PgConnection& changed, const JournalValues& values)
{
    if (!changed.journal) {
        try {
            changed.journal = PgConnection::acquire(
                ServerAlias{changed.session().connectionString(), changed.schema()}, QStringLiteral("merge"));
        } catch (const StoreError& e) {
            if (PQstatus(changed.session().conn()) == CONNECTION_BAD || e.message().contains(QLatin1String(" is busy")))
                throw;
            throw JournalLayoutError(e.message());
        }
    }
    PgConnection& journal = *changed.journal;
    journal.lockForWriting();
    const QVariantList stored = journalRow(journal, values, changed.journalShape, journal.qualifiedName());
    Statement insert = journal.statement(changed.journalShape.insert);
    insertRow(insert, stored);
}

} // namespace

void writeToOutbox(Table& changed, const JournalValues& values)
{
    auto& t = TableAccess::of(changed);
    if (!t.conn)
        throw StoreError(QStringLiteral("Table %1: the table is not open.").arg(changed.tableName()));
    if (t.conn->unitDepth() == 0)
        throw StoreError(QStringLiteral("Table %1: a journal row is written only inside the change it belongs to.")
                             .arg(changed.tableName()));
    if (t.conn->onServer()) {
        writeServerJournal(static_cast<PgConnection&>(*t.conn), values);
        return;
    }
    SqliteConnection& file = static_cast<SqliteConnection&>(*t.conn);
    if (!file.outboxJournal) {
        try {
            file.outboxJournal = SqliteConnection::acquire(journalPathBeside(file.path()), QStringLiteral("merge"));
        } catch (const StoreError& e) {
            // A file that does not open as a table is no journal; a busy one
            // may be by the next try.
            if (e.message().contains(QLatin1String(" is busy")))
                throw;
            throw JournalLayoutError(e.message());
        }
    }
    const SqliteConnection& journal = *file.outboxJournal;
    ensureOutbox(file, journal);

    const QVariantList stored = journalRow(journal, values, file.outboxShape, kOutbox);
    Statement insert = file.statement(file.outboxShape.insert);
    insertRow(insert, stored);
    file.outboxPending = true;
}

namespace {

// Moves the waiting files' rows, oldest first, then stops at the first file
// that cannot move, so that later rows never overtake earlier ones.
void moveWaiting(int busyMs, QString* error)
{
    while (!waiting().isEmpty()) {
        const QString path = waiting().first();
        std::shared_ptr<SqliteConnection> file;
        try {
            file = SqliteConnection::acquire(path, QFileInfo(path).fileName());
        } catch (const StoreError& e) {
            *error = e.message();
            return;
        }
        if (!tryMove(*file, busyMs, error))
            return;
        waiting().removeFirst();
    }
}

void queue(const QString& path)
{
    if (!waiting().contains(path))
        waiting().append(path);
}

QString keptMessage(const QString& path, const QString& error)
{
    return QStringLiteral("The journal rows of the changes to %1 could not be written to the change journal "
                          "merge.db (%2).  They are kept and written with the next change or when Brisel next starts.")
        .arg(QFileInfo(path).fileName(), error);
}

} // namespace

bool moveOutbox(SqliteConnection& connection)
{
    // merge.db busy now: the rows wait for the next commit or the batch's end.
    queue(connection.path());
    QString error;
    moveWaiting(0, &error);
    return !waiting().contains(connection.path());
}

void moveOutboxSoon(SqliteConnection& connection)
{
    // A single change: wait for merge.db as a write waits for a busy file.
    queue(connection.path());
    QString error;
    moveWaiting(Session::instance().busyTimeout(), &error);
    if (waiting().contains(connection.path()))
        reportBatchError(keptMessage(connection.path(), error));
}

void finishOutboxes()
{
    // Another workstation may be writing the journal: keep trying for about
    // ten seconds, letting the windows repaint meanwhile.
    QElapsedTimer clock;
    clock.start();
    QString error;
    for (;;) {
        moveWaiting(0, &error);
        if (waiting().isEmpty() || clock.elapsed() >= 10000)
            break;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    const QStringList left = waiting();
    waiting().clear();
    for (const QString& path : left)
        reportBatchError(keptMessage(path, error));
}

int moveLeftoverOutboxes(const QString& alias)
{
    // On a server the journal rows commit with their changes: nothing waits.
    if (Session::instance().serverOf(alias))
        return 0;
    const QString directory = Session::instance().aliasPath(alias);
    const QString journalPath = QDir(directory).absoluteFilePath(kJournalFile);
    if (!QFileInfo(journalPath).isFile())
        return 0;
    int moved = 0;
    QStringList failures;
    const QStringList files = QDir(directory).entryList({QStringLiteral("*.db")}, QDir::Files);
    for (const QString& name : files) {
        if (name.compare(kJournalFile, Qt::CaseInsensitive) == 0)
            continue;
        std::shared_ptr<SqliteConnection> file;
        int before = 0;
        try {
            file = SqliteConnection::acquire(QDir(directory).absoluteFilePath(name), name);
            if (!hasOutbox(*file))
                continue;
            Statement count = file->statement(QStringLiteral("SELECT count(*) FROM %1").arg(kOutbox));
            before = count.step() ? int(count.columnInt(0)) : 0;
        } catch (const StoreError&) {
            continue; // not a table file of ours; opening it says why
        }
        if (before == 0)
            continue;
        // Like any writer of the file, the move holds it open: a program that
        // has it exclusively is not written past.
        QString error;
        bool ok = false;
        try {
            file->lock(false);
            ok = tryMove(*file, Session::instance().busyTimeout(), &error);
            file->unlock(false);
        } catch (const StoreError& e) {
            error = e.message();
        }
        if (!ok) {
            // The other files still move; these rows wait for the next start.
            failures << QStringLiteral("The journal rows left in %1 could not be written to merge.db: %2").arg(name, error);
            continue;
        }
        moved += before;
    }
    if (!failures.isEmpty())
        throw StoreError(failures.join(QLatin1Char('\n')));
    return moved;
}

} // namespace store
