// The exit-time clean-up of the per-user tables and the rotating backup.

#include "shell/Backup.h"
#include "shell/Main.h"
#include "shell/CleanDb.h"
#include "shell/Paths.h"
#include "store/Catalogue.h"
#include "store/Session.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Clock.h"
#include "support/Messages.h"
#include "testkit/TestInstall.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

#include <sqlite3.h>

using store::Table;

namespace {

const int kUserDbCode = 13;
const int kPermCode = 10;

// The main window's four table objects with its hooks: new USERDB rows get
// a record identifier, new PERM rows are journalled just before the post.
struct MainTables {
    Table database{catalogue::kAlias, catalogue::kDatabase};
    Table userDb{catalogue::kAlias, catalogue::kUserDb};
    Table userPref{catalogue::kAlias, catalogue::kUserPref};
    Table perm{catalogue::kAlias, catalogue::kPerm};

    MainTables()
    {
        userDb.onNewRecord = [](Table& t) {
            t.fieldByName(catalogue::fSyncwellNo).setAsString(shell::newRecordId());
        };
        perm.beforePost = [](Table& t) {
            if (t.state() == store::TableState::Insert)
                support::journalrecord(t, support::ActionAdded);
        };
    }
    void cleanUp() { shell::cleanUp(database, userDb, userPref, perm); }
};

QStringList column(const QString& tableName, const QString& fieldName)
{
    Table t(catalogue::kAlias, tableName);
    t.open();
    QStringList values;
    for (t.first(); !t.eof(); t.next())
        values << t.fieldByName(fieldName).asString();
    return values;
}

// Every row of a (DB, Who) table by its key "DB|Who", all values in field order.
QMap<QString, QVector<QVariant>> pairRows(const QString& tableName)
{
    Table t(catalogue::kAlias, tableName);
    t.open();
    QMap<QString, QVector<QVariant>> rows;
    for (t.first(); !t.eof(); t.next()) {
        QVector<QVariant> values;
        for (int i = 0; i < t.fieldCount(); ++i)
            values << t.field(i).value();
        rows.insert(t.fieldByName(catalogue::fDb).asString() + u'|' + t.fieldByName(catalogue::fWho).asString(),
                    values);
    }
    return rows;
}

void addPairRow(const QString& tableName, const QString& db, const QString& who)
{
    Table t(catalogue::kAlias, tableName);
    t.open();
    t.insert();
    t.fieldByName(catalogue::fDb).setAsString(db);
    t.fieldByName(catalogue::fWho).setAsString(who);
    t.fieldByName(catalogue::fSyncwellNo).setAsString(shell::newRecordId());
    t.post();
}

void deleteAllRows(const QString& tableName)
{
    Table t(catalogue::kAlias, tableName);
    t.open();
    t.first();
    while (!t.eof())
        t.deleteRecord();
}

// Checks the rows of a (DB, Who) table that were not there before: every
// boolean has the given value and the identifier is fresh. Collects their
// identifiers with their database.
void checkNewRows(const QString& tableName, const QMap<QString, QVector<QVariant>>& before, bool booleans,
                  QMap<QString, QString>& ids)
{
    static const QRegularExpression idPattern("^[A-Y]{24}$");
    Table t(catalogue::kAlias, tableName);
    t.open();
    for (t.first(); !t.eof(); t.next()) {
        const QString db = t.fieldByName(catalogue::fDb).asString();
        if (before.contains(db + u'|' + t.fieldByName(catalogue::fWho).asString()))
            continue;
        for (int i = 0; i < t.fieldCount(); ++i)
            if (t.field(i).dataType() == store::FieldType::Boolean)
                QVERIFY2(t.field(i).asBoolean() == booleans, qPrintable(t.field(i).fieldName()));
        const QString id = t.fieldByName(catalogue::fSyncwellNo).asString();
        QVERIFY2(idPattern.match(id).hasMatch(), qPrintable(id));
        QVERIFY(!ids.contains(id));
        ids.insert(id, db);
    }
}

struct JournalRow {
    QString recno;
    QString db;
    int table;
    int action;
};

QList<JournalRow> journalRows()
{
    Table t(catalogue::kAlias, catalogue::kMerge);
    t.open();
    QList<JournalRow> rows;
    for (t.first(); !t.eof(); t.next())
        rows << JournalRow{t.fieldByName("recno").asString(), t.fieldByName("DB").asString(),
                           t.fieldByName("database").asInteger(), t.fieldByName("action").asInteger()};
    return rows;
}

QString dataFile(const QString& name)
{
    return shell::joinPath(shell::aliasDirectory(catalogue::kAlias), name);
}

// A plain SQLite connection, as another program would have.
class RawDb {
public:
    explicit RawDb(const QString& path)
    {
        if (sqlite3_open(QFile::encodeName(path).constData(), &m_db) != SQLITE_OK)
            qFatal("cannot open %s", qPrintable(path));
        sqlite3_busy_timeout(m_db, 5000);
    }
    ~RawDb() { sqlite3_close(m_db); }
    void exec(const QString& sql)
    {
        char* error = nullptr;
        if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK) {
            const QString message = QString::fromUtf8(error);
            sqlite3_free(error);
            qFatal("%s: %s", qPrintable(sql), qPrintable(message));
        }
    }
    QString text(const QString& sql)
    {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK)
            return QStringLiteral("prepare failed: ") + QString::fromUtf8(sqlite3_errmsg(m_db));
        QString result;
        if (sqlite3_step(st) == SQLITE_ROW)
            result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
        return result;
    }

private:
    sqlite3* m_db = nullptr;
};

} // namespace

class TestCleanUp : public QObject {
    Q_OBJECT
private slots:
    void init() { support::resetJournal(); }

    void withoutDatabasesEveryPairRowGoes();
    void completesPairsAndKeepsExistingRows();
    void backupFolderFollowsDayParity();
    void backupHoldsRowsCommittedByAnotherConnection();
    void backupSkipsMissingSource();
    void backupFolderThatCannotBeMade();
    void closingTheMainWindow();
};

void TestCleanUp::withoutDatabasesEveryPairRowGoes()
{
    TestInstall install;
    QVERIFY(install.ok());
    const QString user = column(catalogue::kUserPref, catalogue::fWho).value(0);
    QVERIFY(!user.isEmpty());
    addPairRow(catalogue::kUserDb, "GONE", user);
    addPairRow(catalogue::kPerm, "GONE", user);
    deleteAllRows(catalogue::kDatabase);

    MainTables tables;
    tables.cleanUp();

    QVERIFY(column(catalogue::kUserDb, catalogue::fWho).isEmpty());
    QVERIFY(column(catalogue::kPerm, catalogue::fWho).isEmpty());
    QVERIFY(!column(catalogue::kUserPref, catalogue::fWho).isEmpty()); // users stay
}

void TestCleanUp::completesPairsAndKeepsExistingRows()
{
    TestInstall install;
    QVERIFY(install.ok());
    support::setJournalActive(true);

    // A new user with no rows yet, an existing row with values of its own,
    // and orphans: an unknown database, an unknown user, and a user ID that
    // differs from a real one only in letter case.
    {
        Table userPref(catalogue::kAlias, catalogue::kUserPref);
        userPref.open();
        userPref.insert();
        userPref.fieldByName(catalogue::fWho).setAsString("NEW");
        userPref.fieldByName(catalogue::fFullName).setAsString("New user");
        userPref.post();
    }
    const QStringList dbs = column(catalogue::kDatabase, catalogue::fDb);
    const QStringList users = column(catalogue::kUserPref, catalogue::fWho);
    QVERIFY(dbs.size() >= 2);
    QVERIFY(users.contains("NEW"));
    {
        MainTables tables;
        tables.userDb.open();
        tables.perm.open();
        shell::ensureUserDbRow(tables.userDb, dbs[0], users[0]);
        QVERIFY(tables.userDb.findKey({dbs[0], users[0]}));
        tables.userDb.edit();
        tables.userDb.fieldByName("ntimes").setAsInteger(7);
        tables.userDb.fieldByName("FontGridName").setAsString("Courier");
        tables.userDb.fieldByName("FontDataSize").setAsInteger(14);
        tables.userDb.post();
        shell::ensurePermRow(tables.perm, dbs[0], users[0]);
        QVERIFY(tables.perm.findKey({dbs[0], users[0]}));
        tables.perm.edit();
        tables.perm.fieldByName("Access").setAsBoolean(false);
        tables.perm.post();
    }
    addPairRow(catalogue::kUserDb, "ZZZ", users[0]);
    addPairRow(catalogue::kPerm, "ZZZ", users[0]);
    addPairRow(catalogue::kUserDb, dbs[0], "QQ");
    addPairRow(catalogue::kPerm, dbs[1], "QQ");
    addPairRow(catalogue::kUserDb, dbs[1], "New");
    addPairRow(catalogue::kPerm, dbs[1], "New");

    const auto userDbBefore = pairRows(catalogue::kUserDb);
    const auto permBefore = pairRows(catalogue::kPerm);
    const int journalBefore = journalRows().size();

    MainTables tables;
    tables.cleanUp();

    const auto userDbAfter = pairRows(catalogue::kUserDb);
    const auto permAfter = pairRows(catalogue::kPerm);
    QSet<QString> expected;
    for (const QString& db : dbs)
        for (const QString& who : users)
            expected.insert(db + u'|' + who);
    QCOMPARE(QSet<QString>(userDbAfter.keyBegin(), userDbAfter.keyEnd()), expected);
    QCOMPARE(QSet<QString>(permAfter.keyBegin(), permAfter.keyEnd()), expected);

    // Rows that were there keep every value.
    for (auto it = userDbBefore.cbegin(); it != userDbBefore.cend(); ++it)
        if (expected.contains(it.key()))
            QCOMPARE(userDbAfter.value(it.key()), it.value());
    for (auto it = permBefore.cbegin(); it != permBefore.cend(); ++it)
        if (expected.contains(it.key()))
            QCOMPARE(permAfter.value(it.key()), it.value());
    QVERIFY(userDbBefore.contains(dbs[0] + "|" + users[0]));

    // New rows carry the defaults and a fresh identifier, and each is
    // journalled as added with its identifier and database.
    QMap<QString, QString> newUserDbIds, newPermIds; // syncwellno -> DB
    checkNewRows(catalogue::kUserDb, userDbBefore, false, newUserDbIds);
    checkNewRows(catalogue::kPerm, permBefore, true, newPermIds);
    Table userDb(catalogue::kAlias, catalogue::kUserDb);
    userDb.open();
    QVERIFY(userDb.findKey({dbs[1], "NEW"}));
    QCOMPARE(userDb.fieldByName("ntimes").asInteger(), 0);
    for (const QString font : {"FontData", "FontLabel", "FontGrid"}) {
        QCOMPARE(userDb.fieldByName(font + "Size").asInteger(), 9);
        QCOMPARE(userDb.fieldByName(font + "Color").asInteger(), 0);
        QCOMPARE(userDb.fieldByName(font + "Style").asInteger(), 0);
        QCOMPARE(userDb.fieldByName(font + "Name").asString(), QString("Arial"));
    }
    QVERIFY(newUserDbIds.size() >= dbs.size()); // at least the new user's rows
    QVERIFY(newPermIds.size() >= dbs.size());

    const QList<JournalRow> journal = journalRows().mid(journalBefore);
    QMap<QString, QString> journalledUserDb, journalledPerm;
    for (const JournalRow& row : journal) {
        QCOMPARE(row.action, int(support::ActionAdded));
        if (row.table == kUserDbCode)
            journalledUserDb.insert(row.recno, row.db);
        else if (row.table == kPermCode)
            journalledPerm.insert(row.recno, row.db);
        else
            QFAIL(qPrintable(QString("unexpected journal row for table %1").arg(row.table)));
    }
    QCOMPARE(journal.size(), newUserDbIds.size() + newPermIds.size());
    QCOMPARE(journalledUserDb, newUserDbIds);
    QCOMPARE(journalledPerm, newPermIds);

    // A second run finds nothing to do.
    tables.cleanUp();
    QCOMPARE(pairRows(catalogue::kUserDb), userDbAfter);
    QCOMPARE(pairRows(catalogue::kPerm), permAfter);
    QCOMPARE(journalRows().size(), journalBefore + journal.size());
}

void TestCleanUp::backupFolderFollowsDayParity()
{
    QCOMPARE(shell::backupFolderName(36526), QString("backup1")); // 1 January 2000
    QCOMPARE(shell::backupFolderName(36527), QString("backup2"));

    TestInstall install;
    QVERIFY(install.ok());
    support::MessageScript messages;
    support::ClockOverride clock(QDateTime(QDate(2000, 1, 1), QTime(23, 59)));
    const QDir data(install.dataDir());
    const QStringList copied{"userpref.db", "userdb.db", "settings.db"};

    MainTables tables;
    tables.userPref.open();
    tables.userDb.open();
    QVERIFY(shell::backupUserTables(tables.userPref, tables.userDb));
    QVERIFY(!tables.userPref.active());
    QVERIFY(!tables.userDb.active());
    for (const QString& name : copied)
        QVERIFY2(QFileInfo(data.filePath("backup1/" + name)).isFile(), qPrintable(name));
    QVERIFY(!data.exists("backup2"));
    // Our tables have no separate index or memo files.
    QCOMPARE(QDir(data.filePath("backup1")).entryList({"*.px", "*.mb"}, QDir::Files), QStringList());

    // A second exit the same day overwrites that day's copy.
    {
        Table userPref(catalogue::kAlias, catalogue::kUserPref);
        userPref.open();
        userPref.insert();
        userPref.fieldByName(catalogue::fWho).setAsString("LAT");
        userPref.post();
    }
    QVERIFY(shell::backupUserTables(tables.userPref, tables.userDb));
    {
        RawDb copy(data.filePath("backup1/userpref.db"));
        QCOMPARE(copy.text("SELECT count(*) FROM userpref WHERE Who = 'LAT'"), QString("1"));
    }
    QVERIFY(!data.exists("backup2"));

    clock.set(QDateTime(QDate(2000, 1, 2), QTime(0, 1)));
    QVERIFY(shell::backupUserTables(tables.userPref, tables.userDb));
    for (const QString& name : copied)
        QVERIFY2(QFileInfo(data.filePath("backup2/" + name)).isFile(), qPrintable(name));
    QVERIFY(messages.shown().isEmpty());
}

void TestCleanUp::backupHoldsRowsCommittedByAnotherConnection()
{
    TestInstall install;
    QVERIFY(install.ok());
    support::MessageScript messages;
    support::ClockOverride clock(QDateTime(QDate(2000, 1, 1), QTime(12, 0)));

    // Another program commits rows and keeps its connection, with automatic
    // checkpoints off: the rows live only in the write-ahead log.
    const QString source = dataFile("userpref.db");
    RawDb writer(source);
    writer.exec("PRAGMA wal_autocheckpoint = 0");
    QCOMPARE(writer.text("PRAGMA journal_mode"), QString("wal"));
    writer.exec("BEGIN");
    for (int i = 0; i < 50; ++i)
        writer.exec(QString("INSERT INTO userpref (Who, FullName) VALUES ('W%1', 'Written by another')")
                        .arg(i, 2, 10, QChar('0')));
    writer.exec("COMMIT");
    QVERIFY(QFileInfo(source + "-wal").size() > 0);

    MainTables tables;
    tables.userPref.open();
    QVERIFY(shell::backupUserTables(tables.userPref, tables.userDb));

    const QString copyPath = QDir(install.dataDir()).filePath("backup1/userpref.db");
    QVERIFY(!QFileInfo::exists(copyPath + "-wal") || QFileInfo(copyPath + "-wal").size() == 0);
    RawDb copy(copyPath);
    QCOMPARE(copy.text("PRAGMA integrity_check"), QString("ok"));
    QCOMPARE(copy.text("SELECT count(*) FROM userpref WHERE FullName = 'Written by another'"), QString("50"));
    QCOMPARE(copy.text("SELECT count(*) FROM userpref"), writer.text("SELECT count(*) FROM userpref"));
}

void TestCleanUp::backupSkipsMissingSource()
{
    TestInstall install;
    QVERIFY(install.ok());
    support::MessageScript messages;
    support::ClockOverride clock(QDateTime(QDate(2000, 1, 2), QTime(12, 0)));
    const QDir data(install.dataDir());

    // An earlier copy of the missing table stays as it was.
    QVERIFY(data.mkpath("backup2"));
    QFile earlier(data.filePath("backup2/settings.db"));
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier copy");
    earlier.close();
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(data.filePath(QString("settings.db") + suffix));

    MainTables tables;
    QVERIFY(shell::backupUserTables(tables.userPref, tables.userDb));
    QVERIFY(messages.shown().isEmpty());
    QVERIFY(QFileInfo(data.filePath("backup2/userpref.db")).size() > 0);
    QVERIFY(QFileInfo(data.filePath("backup2/userdb.db")).size() > 0);
    QFile kept(data.filePath("backup2/settings.db"));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("earlier copy"));
    QVERIFY(!data.exists("settings.db"));
}

void TestCleanUp::backupFolderThatCannotBeMade()
{
    TestInstall install;
    QVERIFY(install.ok());
    support::MessageScript messages;
    support::ClockOverride clock(QDateTime(QDate(2000, 1, 1), QTime(12, 0)));
    QFile blocker(QDir(install.dataDir()).filePath("backup1"));
    QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
    blocker.close();

    MainTables tables;
    tables.userPref.open();
    QVERIFY(!shell::backupUserTables(tables.userPref, tables.userDb));
    QCOMPARE(messages.texts(),
             QStringList{"Could not create backup folder under the DATA folder.  Unable to make temporary "
                         "backup of the userpref.*, userdb.* and settings.* files"});
    QCOMPARE(messages.shown().value(0).kind, support::BoxKind::Error);
    QVERIFY(tables.userPref.active()); // stopped before closing anything
}

void TestCleanUp::closingTheMainWindow()
{
    TestInstall install;
    QVERIFY(install.ok());
    support::MessageScript messages;
    support::ClockOverride clock(QDateTime(QDate(2000, 1, 2), QTime(12, 0)));
    const QDir data(install.dataDir());
    const int pairs = column(catalogue::kDatabase, catalogue::fDb).size() *
                      column(catalogue::kUserPref, catalogue::fWho).size();

    // Another program holds PERM.DB for itself: the clean-up fails, the
    // error is shown, nothing is backed up and the window stays open.
    QProcess holder;
    holder.start(QCoreApplication::applicationDirPath() + "/hold_table",
                 {install.configPath(), install.netDir(), catalogue::kPerm, "exclusive"});
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("ready"));

    TfrmMain window(install.root());
    window.show();
    messages.clear();
    QVERIFY(!window.close());
    QVERIFY(window.isVisible());
    QCOMPARE(messages.shown().size(), 1);
    QCOMPARE(messages.shown().value(0).kind, support::BoxKind::Error);
    QVERIFY(!data.exists("backup2"));

    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(10000));

    // Closing again runs the clean-up and the backup to their end; the new
    // permission rows are journalled by the window's hook.
    messages.clear();
    const int journalBefore = journalRows().size();
    QVERIFY(window.close());
    QVERIFY(messages.shown().isEmpty());
    QCOMPARE(pairRows(catalogue::kUserDb).size(), pairs);
    QCOMPARE(pairRows(catalogue::kPerm).size(), pairs);
    for (const QString& name : QStringList{"userpref.db", "userdb.db", "settings.db"})
        QVERIFY2(QFileInfo(data.filePath("backup2/" + name)).isFile(), qPrintable(name));
    int permAdded = 0;
    for (const JournalRow& row : journalRows().mid(journalBefore))
        permAdded += row.table == kPermCode && row.action == support::ActionAdded;
    QVERIFY(permAdded > 0); // the installation leaves a user without rows
}

QTEST_MAIN(TestCleanUp)
#include "tst_cleanup.moc"
