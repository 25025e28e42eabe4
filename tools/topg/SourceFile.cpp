#include "tools/topg/SourceFile.h"

#include "store/StoreError.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <sqlite3.h>

namespace topg {

namespace {

QString quoted(const QString& name)
{
    QString q = name;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

// A prepared statement, finalized when it goes.
class Query {
public:
    Query(sqlite3* db, const QString& sql)
    {
        m_rc = sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &m_stmt, nullptr);
    }
    ~Query() { sqlite3_finalize(m_stmt); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    bool prepared() const { return m_rc == SQLITE_OK; }
    // True while a row is ready; *rc gets SQLITE_DONE or the error.
    bool step(int* rc)
    {
        *rc = sqlite3_step(m_stmt);
        return *rc == SQLITE_ROW;
    }
    QString text(int column) const
    {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column)),
                                 sqlite3_column_bytes(m_stmt, column));
    }
    qint64 integer(int column) const { return sqlite3_column_int64(m_stmt, column); }

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_rc = SQLITE_OK;
};

// The names SQLite gives the rowid; a column of one of these names hides it.
const QStringList kRowIdNames = {QStringLiteral("rowid"), QStringLiteral("_rowid_"), QStringLiteral("oid")};

Cell readCell(sqlite3_stmt* stmt, int index)
{
    Cell cell;
    switch (sqlite3_column_type(stmt, index)) {
    case SQLITE_INTEGER:
        cell.kind = Cell::Integer;
        cell.integer = sqlite3_column_int64(stmt, index);
        break;
    case SQLITE_FLOAT:
        cell.kind = Cell::Real;
        cell.real = sqlite3_column_double(stmt, index);
        break;
    case SQLITE_TEXT: {
        cell.kind = Cell::Text;
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
        cell.bytes = QByteArray(text ? text : "", sqlite3_column_bytes(stmt, index));
        break;
    }
    case SQLITE_BLOB: {
        cell.kind = Cell::Blob;
        const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt, index));
        cell.bytes = QByteArray(data ? data : "", sqlite3_column_bytes(stmt, index));
        break;
    }
    default: break;
    }
    return cell;
}

} // namespace

QStringList tableFiles(const QString& dataDir)
{
    QStringList files;
    const QDir dir(dataDir);
    for (const QFileInfo& info : dir.entryInfoList(QDir::Files, QDir::Name))
        if (info.suffix().compare(QLatin1String("db"), Qt::CaseInsensitive) == 0)
            files << info.absoluteFilePath();
    return files;
}

SourceFile::SourceFile(const QString& path)
    : m_path(path), m_fileName(QFileInfo(path).fileName()), m_tableName(store::sqlTableName(m_fileName))
{
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        const QString message = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : "out of memory");
        sqlite3_close(m_db);
        m_db = nullptr;
        throw store::StoreError(QStringLiteral("Cannot read the table file %1: %2").arg(QDir::toNativeSeparators(path), message));
    }
    try {
        sqlite3_busy_timeout(m_db, 5000);
        exec("BEGIN");
        const QStringList tables = dataTables();
        QString sqlName;
        for (const QString& t : tables)
            if (t.compare(m_tableName, Qt::CaseInsensitive) == 0)
                sqlName = t;
        if (sqlName.isEmpty() && tables.size() == 1)
            sqlName = tables.first();
        if (sqlName.isEmpty())
            throw store::StoreError(QStringLiteral("Cannot copy %1: it holds no table %2.").arg(m_fileName, m_tableName));
        for (const QString& t : tables)
            if (t != sqlName)
                m_otherTables << t;
        readLayout(sqlName);
        readPasswordRows();
        checkOutbox();
    } catch (...) {
        sqlite3_finalize(m_rows);
        sqlite3_close(m_db);
        throw;
    }
}

SourceFile::~SourceFile()
{
    sqlite3_finalize(m_rows);
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr); // only ever read
    sqlite3_close(m_db);
}

void SourceFile::fail(const QString& doing) const
{
    throw store::StoreError(QStringLiteral("Cannot copy %1 (%2): %3")
                                .arg(m_fileName, doing, QString::fromUtf8(sqlite3_errmsg(m_db))));
}

void SourceFile::exec(const char* sql)
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(QString::fromLatin1(sql));
}

QStringList SourceFile::dataTables() const
{
    Query q(m_db, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"));
    if (!q.prepared())
        fail(QStringLiteral("reading its tables"));
    QStringList names;
    int rc = SQLITE_OK;
    while (q.step(&rc)) {
        const QString name = q.text(0);
        if (!name.startsWith(QLatin1String("sqlite_")) && !name.startsWith(QLatin1String("brisel_")))
            names << name;
    }
    if (rc != SQLITE_DONE)
        fail(QStringLiteral("reading its tables"));
    return names;
}

void SourceFile::readLayout(const QString& sqlName)
{
    m_layout.name = m_fileName;
    QVector<QPair<int, QString>> keyOrder; // (position in the key, column)
    {
        Query info(m_db, QStringLiteral("PRAGMA table_info(%1)").arg(quoted(sqlName)));
        if (!info.prepared())
            fail(QStringLiteral("reading the layout"));
        int rc = SQLITE_OK;
        while (info.step(&rc)) {
            const QString name = info.text(1);
            const QString declared = info.text(2);
            const int keyPosition = int(info.integer(5));
            if (kRowIdNames.contains(name, Qt::CaseInsensitive))
                throw store::StoreError(QStringLiteral("Cannot copy %1: its field %2 has the name the server keeps for "
                                                       "the row's identity.").arg(m_fileName, name));
            m_layout.columns.append({name, declared});
            m_columns.append(sourceColumn(name, declared, keyPosition > 0));
            if (keyPosition > 0)
                keyOrder.append({keyPosition, name});
        }
        if (rc != SQLITE_DONE)
            fail(QStringLiteral("reading the layout"));
    }
    if (m_columns.isEmpty())
        throw store::StoreError(QStringLiteral("Cannot copy %1: its table %2 has no fields.").arg(m_fileName, sqlName));
    std::sort(keyOrder.begin(), keyOrder.end());
    for (const auto& k : keyOrder)
        m_layout.primaryKey << k.second;

    QStringList names;
    for (const SourceColumn& c : m_columns)
        names << quoted(c.name);
    const QString sql = QStringLiteral("SELECT rowid, %1 FROM %2 ORDER BY rowid").arg(names.join(QLatin1String(", ")), quoted(sqlName));
    if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &m_rows, nullptr) != SQLITE_OK)
        fail(QStringLiteral("reading the rows; a table without rowids cannot be copied"));
}

void SourceFile::readPasswordRows()
{
    Query q(m_db, QStringLiteral("SELECT key, value FROM brisel_meta WHERE key IN ('password_salt', 'password_hash') ORDER BY key"));
    if (!q.prepared())
        return; // no meta table: the table is not protected
    int rc = SQLITE_OK;
    while (q.step(&rc))
        m_passwordRows.append({q.text(0), q.text(1)});
    if (rc != SQLITE_DONE)
        fail(QStringLiteral("reading its password"));
}

// Journal rows that a program left in the file's outbox have not reached the
// journal yet; a copy would lose them.
void SourceFile::checkOutbox()
{
    Query q(m_db, QStringLiteral("SELECT count(*) FROM brisel_outbox"));
    if (!q.prepared())
        return;
    int rc = SQLITE_OK;
    if (q.step(&rc) && q.integer(0) > 0)
        throw store::StoreError(QStringLiteral("Cannot copy %1: %2 change journal rows are still waiting in it "
                                               "(a program ended before moving them). Open the installation with "
                                               "Brisel once so that they move into the journal, then copy again.")
                                    .arg(m_fileName)
                                    .arg(q.integer(0)));
}

bool SourceFile::nextRow(qint64* rowid, QVariantList* values)
{
    const int rc = sqlite3_step(m_rows);
    if (rc == SQLITE_DONE)
        return false;
    if (rc != SQLITE_ROW)
        fail(QStringLiteral("reading the rows"));
    *rowid = sqlite3_column_int64(m_rows, 0);
    const Place place{m_tableName, *rowid};
    values->clear();
    for (int i = 0; i < m_columns.size(); ++i)
        values->append(serverValue(m_columns[i], readCell(m_rows, i + 1), place));
    return true;
}

} // namespace topg
