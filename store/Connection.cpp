#include "store/Connection.h"

#include "store/FileModes.h"
#include "store/Outbox.h"
#include "store/Schema.h"
#include "store/Session.h"
#include "store/StoreError.h"
#include "store/Table.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

namespace {

QHash<QString, std::shared_ptr<Connection>>& pool()
{
    static QHash<QString, std::shared_ptr<Connection>> connections;
    return connections;
}

int g_batchDepth = 0;
QVector<Connection*> g_batchMembers;

QString sqliteMessage(sqlite3* db, int rc)
{
    if (db && sqlite3_errcode(db) == rc)
        return QString::fromUtf8(sqlite3_errmsg(db));
    return QString::fromUtf8(sqlite3_errstr(rc));
}

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

// --- Statement ---------------------------------------------------------------

Statement::~Statement()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

void Statement::bind(int index, const QVariant& value)
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

bool Statement::step()
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

void Statement::run()
{
    while (step()) {
    }
}

QVariant Statement::column(int index) const
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

qint64 Statement::columnInt(int index) const
{
    return sqlite3_column_int64(m_stmt, index);
}

// --- Connection --------------------------------------------------------------

std::shared_ptr<Connection> Connection::acquire(const QString& path, const QString& tableName)
{
    auto it = pool().find(path);
    if (it != pool().end())
        return it.value();
    const QString key = QFileInfo(path).absoluteFilePath();
    it = pool().find(key);
    if (it != pool().end())
        return it.value();
    std::shared_ptr<Connection> conn(new Connection);
    conn->m_label = tableName;
    conn->openFile(key);
    pool().insert(key, conn);
    if (path != key)
        pool().insert(path, conn);
    return conn;
}

void Connection::closeIdle()
{
    // A connection may be pooled under two spellings of its path; it is idle
    // when nothing but the pool holds it.
    QHash<Connection*, long> entries;
    for (const auto& c : std::as_const(pool()))
        ++entries[c.get()];
    for (auto it = pool().begin(); it != pool().end();) {
        if (it.value().use_count() == entries.value(it.value().get()) && !it.value()->m_inBatch)
            it = pool().erase(it);
        else
            ++it;
    }
}

Connection::~Connection()
{
    for (sqlite3_stmt* stmt : std::as_const(m_statements))
        sqlite3_finalize(stmt);
    if (m_db)
        sqlite3_close_v2(m_db);
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

void Connection::raise(int rc, const QString& doing) const
{
    throw StoreError(QStringLiteral("Table %1: %2 (%3).").arg(m_label, doing, sqliteMessage(m_db, rc)));
}

void Connection::openFile(const QString& path)
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

void Connection::readSchema()
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
        m_columnByName.insert(col.name.toLower(), int(m_columns.size()));
        m_columns.append(col);
    }
    std::sort(keyOrder.begin(), keyOrder.end());
    for (const auto& k : keyOrder)
        m_keyColumns.append(k.second);
}

int Connection::columnIndex(const QString& name) const
{
    return m_columnByName.value(name.toLower(), -1);
}

Statement Connection::statement(const QString& sql)
{
    sqlite3_stmt* stmt = m_statements.value(sql, nullptr);
    if (!stmt) {
        const QByteArray utf8 = sql.toUtf8();
        const int rc = sqlite3_prepare_v3(m_db, utf8.constData(), int(utf8.size()), SQLITE_PREPARE_PERSISTENT,
                                          &stmt, nullptr);
        if (rc != SQLITE_OK)
            raise(rc, QStringLiteral("cannot prepare a query"));
        m_statements.insert(sql, stmt);
    }
    return Statement(stmt, m_label);
}

void Connection::exec(const QString& sql)
{
    Statement stmt = statement(sql);
    stmt.run();
}

void Connection::checkPassword()
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

void Connection::setLock(short type)
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
void Connection::reopenLockFile()
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

void Connection::lock(bool exclusive)
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

void Connection::unlock(bool exclusive)
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

qint64 Connection::dataVersion()
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

// --- Batches -----------------------------------------------------------------

bool Connection::batchAlive() { return g_batchDepth > 0; }
void Connection::enterBatch() { ++g_batchDepth; }
void Connection::leaveBatch() { --g_batchDepth; }

void Connection::commitStale(bool force)
{
    if (g_batchMembers.isEmpty())
        return;
    if (!force) {
        bool stale = false;
        for (const Connection* c : std::as_const(g_batchMembers))
            stale = stale || (!c->holdsPair() && c->m_batchAge.elapsed() >= kBatchWindowMs);
        if (!stale)
            return;
    }
    const QVector<Connection*> members = g_batchMembers;
    QString firstError;
    for (Connection* c : members) {
        if (!force && (c->holdsPair() || c->m_batchAge.elapsed() < kBatchWindowMs))
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

void Connection::beginRead(bool mayCommit)
{
    if (g_batchDepth == 0)
        return;
    // A read must not see a snapshot older than the window, nor keep other
    // files locked while this one is read.
    if (mayCommit)
        commitStale();
    if (!m_inBatch)
        joinBatch(false);
}

void Connection::joinBatch(bool write)
{
    exec(write ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"));
    ++m_txnSerial;
    m_inBatch = true;
    m_batchWrites = write;
    m_batchAge.start();
    g_batchMembers.append(this);
}

// A batch commits at the start of the next store call, never at the end of
// this one: a change and the journal row that follows it stay together.
void Connection::endRead() {}

void Connection::joinWrite()
{
    if (g_batchDepth == 0)
        throw StoreError(QStringLiteral("Table %1: a journal row can only join a batch.").arg(m_label));
    if (m_inBatch && m_batchWrites)
        return;
    if (m_inBatch)
        commitBatch(); // a read transaction holds nothing of ours
    joinBatch(true);
}

void Connection::beginWrite()
{
    sqlite3_busy_timeout(m_db, Session::instance().busyTimeout());
    if (g_batchDepth == 0) {
        exec(QStringLiteral("BEGIN IMMEDIATE"));
        ++m_txnSerial;
        m_ownTransaction = true;
        return;
    }
    commitStale();
    // A read transaction cannot safely become a write transaction once
    // another program has written; start the write transaction afresh.
    if (m_inBatch && !m_batchWrites)
        commitBatch();
    if (!m_inBatch)
        joinBatch(true);
}

void Connection::endWrite()
{
    if (m_ownTransaction) {
        m_ownTransaction = false;
        const int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
            raise(rc, QStringLiteral("the change could not be saved"));
        }
        return;
    }
    pinned = false; // the change joined its journal row
}

void Connection::abortWrite()
{
    pinned = false;
    if (!m_ownTransaction)
        return; // a batch keeps what it wrote before this row
    m_ownTransaction = false;
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void Connection::commitBatch()
{
    if (!m_inBatch)
        return;
    m_inBatch = false;
    pinned = false;
    g_batchMembers.removeAll(this);
    const int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        outboxPending = false; // its journal rows went with the changes
        raise(rc, QStringLiteral("the changes could not be saved"));
    }
    if (outboxPending) {
        outboxPending = false;
        moveOutbox(*this);
    }
}

} // namespace store
