#include "store/sqlite/SqliteConnection.h"

#include "store/Row.h"

#include "store/FileModes.h"
#include "store/Outbox.h"
#include "store/Schema.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/Table.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QVarLengthArray>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

namespace {

QString sqliteMessage(sqlite3* db, int rc)
{
    if (db && sqlite3_errcode(db) == rc)
        return QString::fromUtf8(sqlite3_errmsg(db));
    return QString::fromUtf8(sqlite3_errstr(rc));
}

} // namespace

// --- Statement ---------------------------------------------------------------

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_stmt);
}

void SqliteStatement::reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

int SqliteStatement::columnCount() const
{
    return sqlite3_column_count(m_stmt);
}

void SqliteStatement::bind(int index, const QVariant& value)
{
    int rc = SQLITE_OK;
    if (value.metaType() == QMetaType::fromType<RawText>()) {
        const QByteArray bytes = value.value<RawText>().bytes;
        rc = sqlite3_bind_text(m_stmt, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
    } else if (!value.isValid() || value.isNull()) {
        rc = sqlite3_bind_null(m_stmt, index);
    } else {
        switch (value.typeId()) {
        case QMetaType::Bool:
            rc = sqlite3_bind_int(m_stmt, index, value.toBool() ? 1 : 0);
            break;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Long:
            rc = sqlite3_bind_int64(m_stmt, index, value.toLongLong());
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            rc = sqlite3_bind_double(m_stmt, index, value.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            rc = sqlite3_bind_blob(m_stmt, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        default: {
            const QByteArray text = value.toString().toUtf8();
            rc = sqlite3_bind_text(m_stmt, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
            break;
        }
        }
    }
    if (rc != SQLITE_OK)
        throw StoreError(QStringLiteral("Table %1: %2").arg(m_table, QString::fromUtf8(sqlite3_errstr(rc))));
}

bool SqliteStatement::step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    sqlite3* db = sqlite3_db_handle(m_stmt);
    const int code = rc & 0xff;
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
        throw StoreError(QStringLiteral("Table %1 is busy: another program is writing to it. Try again in a moment.")
                             .arg(m_table));
    if (rc == SQLITE_CONSTRAINT_PRIMARYKEY || rc == SQLITE_CONSTRAINT_UNIQUE)
        throw StoreError(QStringLiteral("Key violation: table %1 already has a row with this key.").arg(m_table));
    throw StoreError(QStringLiteral("Table %1: %2").arg(m_table, sqliteMessage(db, rc)));
}

QVariant SqliteStatement::column(int index) const
{
    switch (sqlite3_column_type(m_stmt, index)) {
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(m_stmt, index)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_stmt, index));
    case SQLITE_TEXT: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, index));
        return QVariant(QString::fromUtf8(text, sqlite3_column_bytes(m_stmt, index)));
    }
    case SQLITE_BLOB: {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(m_stmt, index));
        return QVariant(QByteArray(data, sqlite3_column_bytes(m_stmt, index)));
    }
    default:
        return QVariant();
    }
}

qint64 SqliteStatement::columnInt(int index) const
{
    return sqlite3_column_int64(m_stmt, index);
}

void SqliteStatement::readRow(Row& row) const
{
    sqlite3_stmt* h = m_stmt;
    row.rowId = sqlite3_column_int64(h, 0);
    const int n = sqlite3_column_count(h) - 1;
    // One pass reads each column's value through one call (each sqlite3_column_*
    // call costs as much again as reading the value: this is most of a walk's
    // time) and keeps what it read; the second pass only copies. The values
    // stay valid until the next step. Using a column's value object directly
    // is safe here as a connection is only ever used from one thread (it is
    // opened NOMUTEX).
    struct Cell {
        int type;
        int bytes;
        union {
            qint64 integer;
            double real;
            const void* data;
        };
    };
    QVarLengthArray<Cell, 64> cells(n);
    int payload = 0;
    for (int i = 0; i < n; ++i) {
        sqlite3_value* v = sqlite3_column_value(h, i + 1);
        Cell& c = cells[i];
        c.type = sqlite3_value_type(v);
        c.bytes = 0;
        switch (c.type) {
        case SQLITE_INTEGER: c.integer = sqlite3_value_int64(v); payload += 8; break;
        case SQLITE_FLOAT: c.real = sqlite3_value_double(v); payload += 8; break;
        case SQLITE_TEXT:
            c.data = sqlite3_value_text(v); // settles the text's UTF-8 form before its size is read
            c.bytes = sqlite3_value_bytes(v);
            break;
        case SQLITE_BLOB:
            c.data = sqlite3_value_blob(v);
            c.bytes = sqlite3_value_bytes(v);
            break;
        default: break;
        }
        payload += 1 + c.bytes;
    }
    RowPacker pack(row, n, payload);
    for (const Cell& c : cells) {
        switch (c.type) {
        case SQLITE_INTEGER: pack.addInt(c.integer); break;
        case SQLITE_FLOAT: pack.addFloat(c.real); break;
        case SQLITE_TEXT: pack.addText(static_cast<const char*>(c.data), c.bytes); break;
        case SQLITE_BLOB: pack.addBlob(static_cast<const char*>(c.data), c.bytes); break;
        default: pack.addNull(); break;
        }
    }
    pack.finish();
}

// --- Connection --------------------------------------------------------------

std::shared_ptr<SqliteConnection> SqliteConnection::acquire(const QString& path, const QString& tableName)
{
    if (auto found = std::static_pointer_cast<SqliteConnection>(pooled(path)))
        return found;
    const QString key = QFileInfo(path).absoluteFilePath();
    if (auto found = std::static_pointer_cast<SqliteConnection>(pooled(key))) {
        registerPooled(path, found);
        return found;
    }
    std::shared_ptr<SqliteConnection> conn(new SqliteConnection);
    conn->m_label = tableName;
    conn->openFile(key);
    registerPooled(key, conn);
    if (path != key)
        registerPooled(path, conn);
    return conn;
}

SqliteConnection::~SqliteConnection()
{
    leaveBatchList();
    qDeleteAll(m_statements);
    if (m_db)
        sqlite3_close_v2(m_db);
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

void SqliteConnection::raise(int rc, const QString& doing) const
{
    throw StoreError(QStringLiteral("Table %1: %2 (%3).").arg(m_label, doing, sqliteMessage(m_db, rc)));
}

void SqliteConnection::openFile(const QString& path)
{
    m_path = path;
    const QFileInfo info(path);
    m_fileName = info.fileName();
    if (!info.exists())
        throw StoreError(QStringLiteral("Table %1 does not exist: there is no file %2.")
                             .arg(m_label, QDir::toNativeSeparators(path)));
    if (!info.isFile())
        throw StoreError(QStringLiteral("Table %1 cannot be opened: %2 is not a file.")
                             .arg(m_label, QDir::toNativeSeparators(path)));
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &m_db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK)
        raise(rc, QStringLiteral("cannot open %1").arg(QDir::toNativeSeparators(path)));
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, Session::instance().busyTimeout());
    readSchema();
    // WAL lets several programs read while one writes; the setting is kept in
    // the file, so this only changes files made by other tools.
    exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    {
        Statement mode = statement(QStringLiteral("PRAGMA journal_mode"));
        const bool wal = mode.step() && mode.column(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
        if (!wal) {
            sqlite3_stmt* set = nullptr;
            if (sqlite3_prepare_v2(m_db, "PRAGMA journal_mode=WAL", -1, &set, nullptr) == SQLITE_OK)
                sqlite3_step(set);
            sqlite3_finalize(set);
        }
    }
}

void SqliteConnection::readSchema()
{
    // The data table has the file's base name; a file made by another tool
    // may hold a single table of another name.
    QString wanted = sqlTableName(QFileInfo(m_path).fileName());
    QStringList names;
    {
        sqlite3_stmt* stmt = nullptr;
        int rc = sqlite3_prepare_v2(m_db, "SELECT name FROM sqlite_master WHERE type='table'", -1, &stmt, nullptr);
        if (rc != SQLITE_OK) {
            const int code = rc & 0xff;
            if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT)
                throw StoreError(QStringLiteral("Table %1 cannot be opened: %2 is not a valid table file (%3).")
                                     .arg(m_label, QDir::toNativeSeparators(m_path), sqliteMessage(m_db, rc)));
            raise(rc, QStringLiteral("cannot read the table's structure"));
        }
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
            names << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE) {
            const int code = rc & 0xff;
            if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT)
                throw StoreError(QStringLiteral("Table %1 cannot be opened: %2 is not a valid table file (%3).")
                                     .arg(m_label, QDir::toNativeSeparators(m_path), sqliteMessage(m_db, rc)));
            raise(rc, QStringLiteral("cannot read the table's structure"));
        }
    }
    QString found;
    QStringList dataTables;
    for (const QString& n : names) {
        if (n.startsWith(QLatin1String("sqlite_")) || n.startsWith(QLatin1String("brisel_")))
            continue;
        dataTables << n;
        if (n.compare(wanted, Qt::CaseInsensitive) == 0)
            found = n;
    }
    if (found.isEmpty() && dataTables.size() == 1)
        found = dataTables.first();
    if (found.isEmpty())
        throw StoreError(QStringLiteral("Table %1 cannot be opened: %2 holds no table %3.")
                             .arg(m_label, QDir::toNativeSeparators(m_path), wanted));
    m_sqlName = found;

    QVector<QPair<int, int>> keyOrder; // (pk position, column index)
    Statement info = statement(QStringLiteral("PRAGMA table_info(%1)").arg(quoteIdentifier(found)));
    while (info.step()) {
        ColumnInfo col;
        col.name = info.column(1).toString();
        col.declaredType = info.column(2).toString();
        col.type = fieldTypeOf(col.declaredType, &col.size);
        const int pk = int(info.columnInt(5));
        if (pk > 0)
            keyOrder.append({pk, int(m_columns.size())});
        addColumn(col);
    }
    std::sort(keyOrder.begin(), keyOrder.end());
    for (const auto& k : keyOrder)
        m_keyColumns.append(k.second);
}

Statement SqliteConnection::statement(const QString& sql)
{
    SqliteStatement* cached = m_statements.value(sql, nullptr);
    if (!cached) {
        sqlite3_stmt* stmt = nullptr;
        const QByteArray utf8 = sql.toUtf8();
        const int rc = sqlite3_prepare_v3(m_db, utf8.constData(), int(utf8.size()), SQLITE_PREPARE_PERSISTENT,
                                          &stmt, nullptr);
        if (rc != SQLITE_OK)
            raise(rc, QStringLiteral("cannot prepare a query"));
        cached = new SqliteStatement(stmt, m_label);
        m_statements.insert(sql, cached);
    }
    return Statement(cached);
}

qint64 SqliteConnection::insertRow(const QString& sql, const QVector<QVariant>& values)
{
    Statement stmt = statement(sql);
    for (int i = 0; i < values.size(); ++i)
        stmt.bind(i + 1, values[i]);
    stmt.run();
    return sqlite3_last_insert_rowid(m_db);
}

void SqliteConnection::exec(const QString& sql)
{
    Statement stmt = statement(sql);
    stmt.run();
}

void SqliteConnection::checkPassword()
{
    if (m_passwordOk)
        return;
    QString salt;
    QString hash;
    {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, "SELECT key, value FROM brisel_meta WHERE key IN ('password_salt','password_hash')",
                               -1, &stmt, nullptr) == SQLITE_OK) {
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                const QString k = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
                const QString v = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)));
                (k == QLatin1String("password_salt") ? salt : hash) = v;
            }
        }
        sqlite3_finalize(stmt); // no meta table: the table is not protected
    }
    if (hash.isEmpty()) {
        m_passwordOk = true;
        return;
    }
    for (const QString& pw : Session::instance().passwords()) {
        if (passwordHash(salt, pw) == hash) {
            m_passwordOk = true;
            return;
        }
    }
    throw StoreError(QStringLiteral("Table %1 is protected by a password, and no registered password opens it.")
                         .arg(m_label));
}

void SqliteConnection::setLock(short type)
{
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    if (fcntl(m_lockFd, F_SETLK, &fl) == 0)
        return;
    if (errno == EACCES || errno == EAGAIN) {
        if (type == F_WRLCK)
            throw StoreError(QStringLiteral("Could not get exclusive access to table %1: another program has it open.")
                                 .arg(m_label));
        throw StoreError(QStringLiteral("Table %1 cannot be opened: another program is using it exclusively.")
                             .arg(m_label));
    }
    throw StoreError(QStringLiteral("Table %1: cannot lock %2 (%3).")
                         .arg(m_label, QDir::toNativeSeparators(m_lockPath), QString::fromLocal8Bit(strerror(errno))));
}

namespace {

bool sameFile(int fd, const QString& path)
{
    struct stat open {};
    struct stat named {};
    if (fstat(fd, &open) != 0 || ::stat(path.toLocal8Bit().constData(), &named) != 0)
        return false;
    return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

} // namespace

// Opens the lock file that is in the control directory now. A lock on a file
// that was deleted or replaced (or whose directory was re-made) keeps nobody
// out, so a descriptor is only used while its file is still the one named.
void SqliteConnection::reopenLockFile()
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int fd = ::open(m_lockPath.toLocal8Bit().constData(), O_RDWR | O_CREAT | O_CLOEXEC, kFileMode);
        if (fd < 0)
            throw StoreError(QStringLiteral("Table %1 cannot be opened: the lock file %2 cannot be created in the network control directory (%3).")
                                 .arg(m_label, QDir::toNativeSeparators(m_lockPath), QString::fromLocal8Bit(strerror(errno))));
        // Exactly rw for owner and group whatever the umask (the office's
        // workstations share the lock files through the group); fails
        // harmlessly on a lock file that another user made.
        ::fchmod(fd, kFileMode);
        if (sameFile(fd, m_lockPath)) {
            const int old = m_lockFd;
            m_lockFd = fd;
            if (old >= 0)
                ::close(old);
            return;
        }
        ::close(fd); // replaced between open and check: try the new one
    }
    throw StoreError(QStringLiteral("Table %1: the lock file %2 keeps being replaced by another program.")
                         .arg(m_label, QDir::toNativeSeparators(m_lockPath)));
}

void SqliteConnection::lock(bool exclusive)
{
    const QString netDir = Session::instance().netFileDir();
    if (netDir.trimmed().isEmpty())
        throw StoreError(QStringLiteral("Table %1 cannot be opened: the network control directory has not been set.")
                             .arg(m_label));
    if (!Session::instance().netFileDirUsable())
        throw StoreError(QStringLiteral("Table %1 cannot be opened: the network control directory %2 does not exist.")
                             .arg(m_label, QDir::toNativeSeparators(netDir)));
    const QString lockPath = netDir + QLatin1Char('/') + m_fileName + QLatin1String(".lck");
    const bool holding = m_shared > 0 || m_exclusive > 0;
    if (m_lockFd < 0 || lockPath != m_lockPath || !sameFile(m_lockFd, lockPath)) {
        // What this program holds on the old file must be held on the new
        // one too, before anything else is granted.
        const short held = m_exclusive > 0 ? F_WRLCK : F_RDLCK;
        const int oldFd = m_lockFd;
        m_lockFd = -1;
        m_lockPath = lockPath;
        try {
            reopenLockFile();
            if (holding)
                setLock(held);
        } catch (...) {
            if (m_lockFd >= 0 && m_lockFd != oldFd)
                ::close(m_lockFd);
            m_lockFd = oldFd;
            throw;
        }
        if (oldFd >= 0)
            ::close(oldFd);
    }
    // fcntl locks belong to the process: this program's own objects share
    // them, and only other programs are kept out.
    if (exclusive) {
        if (m_exclusive == 0)
            setLock(F_WRLCK);
        ++m_exclusive;
    } else {
        if (m_exclusive == 0 && m_shared == 0)
            setLock(F_RDLCK);
        ++m_shared;
    }
}

void SqliteConnection::unlock(bool exclusive)
{
    if (exclusive)
        m_exclusive = qMax(0, m_exclusive - 1);
    else
        m_shared = qMax(0, m_shared - 1);
    if (m_lockFd < 0 || m_exclusive > 0)
        return;
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = m_shared > 0 ? F_RDLCK : F_UNLCK;
    fl.l_whence = SEEK_SET;
    fcntl(m_lockFd, F_SETLK, &fl); // a downgrade or release never conflicts
    if (m_shared == 0) {
        // Nothing held: the next open looks for the lock file afresh.
        ::close(m_lockFd);
        m_lockFd = -1;
    }
}

SqliteConnection::MoverLock::MoverLock(const SqliteConnection& file, int waitMs)
{
    const QString path = Session::instance().netFileDir() + QLatin1Char('/') + file.m_fileName + QLatin1String(".move.lck");
    m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_CREAT | O_CLOEXEC, kFileMode);
    if (m_fd < 0)
        throw StoreError(QStringLiteral("Table %1: the lock file %2 cannot be created in the network control directory (%3).")
                             .arg(file.m_label, QDir::toNativeSeparators(path), QString::fromLocal8Bit(strerror(errno))));
    ::fchmod(m_fd, kFileMode);
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    QElapsedTimer waited;
    waited.start();
    while (fcntl(m_fd, F_SETLK, &fl) != 0) {
        if ((errno != EACCES && errno != EAGAIN) || waited.elapsed() >= waitMs) {
            ::close(m_fd);
            throw StoreError(QStringLiteral("Table %1: another program is moving its journal rows to merge.db.").arg(file.m_label));
        }
        ::usleep(2000);
    }
}

SqliteConnection::MoverLock::~MoverLock()
{
    ::close(m_fd); // closing releases the lock
}

qint64 SqliteConnection::dataVersion()
{
    // Within one batch transaction the file cannot change under this
    // connection (a read transaction keeps its snapshot, a write transaction
    // keeps the others out): ask once per transaction.
    if (m_inBatch && m_versionSerial == m_txnSerial)
        return m_version;
    Statement stmt = statement(QStringLiteral("PRAGMA data_version"));
    m_version = stmt.step() ? stmt.columnInt(0) : -1;
    m_versionSerial = m_inBatch ? m_txnSerial : 0;
    return m_version;
}

// --- Batches and change units ----------------------------------------------

// SQLite ends a transaction on its own after some failures (a full disk, an
// I/O error, no memory). The statements that follow would then each commit
// by themselves, splitting changes from their journal rows; so the loss is
// noticed before the next statement and told, never passed over.
bool SqliteConnection::noticeLostTransaction()
{
    if (!(m_inBatch || m_ownTransaction) || !sqlite3_get_autocommit(m_db))
        return false;
    const bool batchWork = m_inBatch && m_batchWrites;
    m_inBatch = false;
    m_ownTransaction = false;
    if (m_unitDepth > 0)
        m_unitFailed = true; // the open change unit went with it
    outboxPending = false;
    outboxReady = false; // made in the lost transaction, perhaps
    leaveBatchList();
    if (batchWork)
        noteLostWork(QStringLiteral("Table %1: the database engine rolled back the changes of the last moments of this "
                                    "work after an error; they were not saved.")
                         .arg(m_label));
    else
        countRollback();
    return true;
}

void SqliteConnection::beginRead(bool mayCommit)
{
    if (!batchAlive())
        return;
    noticeLostTransaction();
    // A read must not see a snapshot older than the window, nor keep other
    // files locked while this one is read.
    if (mayCommit)
        commitStale();
    if (!m_inBatch)
        joinBatch(false);
}

void SqliteConnection::joinBatch(bool write)
{
    exec(write ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"));
    ++m_txnSerial;
    m_inBatch = true;
    m_batchWrites = write;
    m_batchAge.start();
    joinBatchList();
}

// Only the outermost unit is a savepoint (or the transaction itself): a unit
// nested in it is part of the same change, and when it fails the whole
// change fails, even if its caller went on.
void SqliteConnection::beginUnit()
{
    if (m_unitDepth > 0) {
        ++m_unitDepth;
        return;
    }
    noticeLostTransaction();
    sqlite3_busy_timeout(m_db, Session::instance().busyTimeout());
    if (!batchAlive()) {
        exec(QStringLiteral("BEGIN IMMEDIATE"));
        ++m_txnSerial;
        m_ownTransaction = true;
    } else {
        commitStale();
        // A read transaction cannot safely become a write transaction once
        // another program has written; start the write transaction afresh.
        if (m_inBatch && !m_batchWrites)
            commitBatch();
        if (!m_inBatch)
            joinBatch(true);
        statement(QStringLiteral("SAVEPOINT brisel_unit")).run();
    }
    m_unitDepth = 1;
    m_unitFailed = false;
}

void SqliteConnection::releaseUnit()
{
    if (m_unitDepth == 0)
        return;
    if (m_unitDepth > 1) {
        --m_unitDepth;
        return;
    }
    if (noticeLostTransaction()) {
        rollbackUnit();
        throw StoreError(QStringLiteral("Table %1: the database engine rolled back the change after an error; it was not saved.")
                             .arg(m_label));
    }
    if (m_unitFailed) {
        rollbackUnit();
        throw StoreError(QStringLiteral("Table %1: part of the change failed, so none of it was saved.").arg(m_label));
    }
    if (!m_ownTransaction) {
        try {
            statement(QStringLiteral("RELEASE brisel_unit")).run();
        } catch (...) {
            rollbackUnit();
            throw;
        }
        m_unitDepth = 0;
        return;
    }
    m_unitDepth = 0;
    m_ownTransaction = false;
    commitOrRaise(QStringLiteral("the change could not be saved"));
    if (outboxPending) {
        outboxPending = false;
        moveOutboxSoon(*this);
    }
}

// A commit that fails takes the transaction's journal rows with its changes.
void SqliteConnection::commitOrRaise(const QString& doing)
{
    const int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        return;
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    outboxPending = false;
    outboxReady = false;
    countRollback();
    raise(rc, doing);
}

void SqliteConnection::rollbackUnit() noexcept
{
    if (m_unitDepth == 0)
        return;
    if (m_unitDepth > 1) {
        --m_unitDepth;
        m_unitFailed = true;
        return;
    }
    m_unitDepth = 0;
    countRollback();
    outboxReady = false; // the outbox may have been made in what goes
    if (noticeLostTransaction() || !(m_inBatch || m_ownTransaction))
        return; // the transaction ended already, and that is told
    if (m_ownTransaction) {
        m_ownTransaction = false;
        outboxPending = false;
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return;
    }
    // The batch keeps what its other units wrote.
    sqlite3_exec(m_db, "ROLLBACK TO brisel_unit; RELEASE brisel_unit", nullptr, nullptr, nullptr);
    noticeLostTransaction();
}

void SqliteConnection::commitBatch()
{
    if (!m_inBatch)
        return;
    if (noticeLostTransaction())
        return; // noted: raised by the commit that asked
    m_inBatch = false;
    leaveBatchList();
    commitOrRaise(QStringLiteral("the changes could not be saved"));
    if (outboxPending) {
        outboxPending = false;
        moveOutbox(*this);
    }
}

} // namespace store
