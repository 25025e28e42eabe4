// The exit-time clean-up of the per-user tables and the rotating backup, on
// the main window's table objects with their hooks.

#include "shell/Backup.h"
#include "shell/CleanDb.h"
#include "shell/Main.h"
#include "shell/Paths.h"
#include "store/Catalogue.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Clock.h"
#include "support/Messages.h"
#include "support/Progress.h"
#include "testkit/OtherProgram.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"
#include "ui/ProgressWindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

using store::Table;
using testkit::RawDb;

namespace {

const int kUserDbCode = 13;
const int kPermCode = 10;
const QStringList kCopied{"userpref.db", "userdb.db", "perm.db", "settings.db"};

void cleanUp(TfrmMain& w)
{
    shell::cleanUp(w.tblDatabase, w.tblUserDB, w.tblUserPref, w.tblPerm);
}

bool backUp(TfrmMain& w)
{
    return shell::backupUserTables(w.tblUserPref, w.tblUserDB);
}

// Every row of a (DB, Who) table by its key "DB|Who".
QMap<QString, QVariantMap> pairRows(const QString& tableName)
{
    QMap<QString, QVariantMap> rows;
    for (const QVariantMap& row : testkit::tableRows(tableName))
        rows.insert(row.value("db").toString() + u'|' + row.value("who").toString(), row);
    return rows;
}

void addPairRow(const QString& tableName, const QString& db, const QString& who)
{
    testkit::addRow(tableName,
                    {{catalogue::fDb, db}, {catalogue::fWho, who}, {catalogue::fSyncwellNo, shell::newRecordId()}});
}

// Checks the rows of a (DB, Who) table that were not there before: every
// boolean has the given value and the identifier is fresh. Collects their
// identifiers with their database.
void checkNewRows(const QString& tableName, const QMap<QString, QVariantMap>& before, bool booleans,
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

void verifyCopies(const QDir& data, const QString& folder)
{
    for (const QString& name : kCopied)
        QVERIFY2(QFileInfo(data.filePath(folder + u'/' + name)).isFile(), qPrintable(name));
}

// Asks the walk to stop at its stop-th unit, counted over all its stretches.
class StopAfter : public support::Progress {
public:
    explicit StopAfter(qint64 stop) : m_stop(stop) {}
    void begin(const QString&, qint64 total) override { totals.append(total); }
    bool advance(qint64) override { return ++units < m_stop; }
    qint64 units = 0;
    QList<qint64> totals;

private:
    qint64 m_stop;
};

// Checks that USERDB.DB and PERM.DB hold only whole rows, each journalled as
// added exactly once since journalBefore (the tables were empty then), and
// on SQLite that the files are sound.
void verifyWholeAndJournalled(const QDir& data, int journalBefore)
{
    QSet<QString> unset{"datelastlogin", "timelastlogin"}; // a new USERDB.DB row leaves them blank
    QMap<int, QSet<QString>> ids; // table code -> syncwellno of its rows
    for (const auto& [name, code] : {std::pair{catalogue::kUserDb, kUserDbCode}, std::pair{catalogue::kPerm, kPermCode}}) {
        for (const QVariantMap& row : testkit::tableRows(name)) {
            for (auto it = row.cbegin(); it != row.cend(); ++it)
                QVERIFY2(!it.value().isNull() || unset.contains(it.key()), qPrintable(name + ": " + it.key()));
            ids[code].insert(row.value("syncwellno").toString());
        }
    }
    QMap<int, QSet<QString>> journalled;
    int entries = 0;
    for (const testkit::JournalEntry& row : testkit::journalEntries().mid(journalBefore)) {
        QCOMPARE(row.action, int(support::ActionAdded));
        journalled[row.table].insert(row.recno);
        ++entries;
    }
    QCOMPARE(journalled, ids);
    QCOMPARE(entries, int(ids.value(kUserDbCode).size() + ids.value(kPermCode).size()));
    if (!TestInstall::onServer())
        for (const char* file : {"userdb.db", "perm.db", "merge.db"})
            QCOMPARE(RawDb(data.filePath(file)).text("PRAGMA integrity_check"), QString("ok"));
}

} // namespace

class TestCleanUp : public QObject {
    Q_OBJECT
private slots:
    void init() { support::resetJournal(); }

    void completesPairsAndKeepsExistingRows();
    void backupRotatesByDayParity();
    void backupHoldsRowsCommittedByAnotherConnection();
    void closingTheMainWindow();
    void cancelledCleanUpKeepsWholeRows();
};

void TestCleanUp::completesPairsAndKeepsExistingRows()
{
    TestInstall install;
    QVERIFY(install.ok());

    // A new user with rows in the first database only, with values of their
    // own, and orphans: an unknown database, an unknown user, and a user ID
    // that differs from a real one only in letter case.
    using namespace catalogue;
    testkit::addRow(kUserPref, {{fWho, "NEW"}, {fFullName, "New user"}});
    const QStringList dbs = testkit::column(kDatabase, fDb);
    const QStringList users = testkit::column(kUserPref, fWho);
    QVERIFY(dbs.size() >= 2);
    testkit::addRow(kUserDb, {{fDb, dbs[0]}, {fWho, "NEW"}, {"ntimes", 7}, {"FontGridName", "Courier"},
                              {"FontDataSize", 14}, {fSyncwellNo, shell::newRecordId()}});
    testkit::addRow(kPerm, {{fDb, dbs[0]}, {fWho, "NEW"}, {"Access", false}, {fSyncwellNo, shell::newRecordId()}});
    addPairRow(kUserDb, "ZZZ", users[0]);
    addPairRow(kPerm, "ZZZ", users[0]);
    addPairRow(kUserDb, dbs[0], "QQ");
    addPairRow(kPerm, dbs[1], "QQ");
    addPairRow(kUserDb, dbs[1], "New");
    addPairRow(kPerm, dbs[1], "New");

    const auto userDbBefore = pairRows(kUserDb);
    const auto permBefore = pairRows(kPerm);
    const int journalBefore = testkit::journalEntries().size();

    TfrmMain w;
    QVERIFY(support::journalActive());
    cleanUp(w);

    const auto userDbAfter = pairRows(kUserDb);
    const auto permAfter = pairRows(kPerm);
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
    QCOMPARE(userDbAfter.value(dbs[0] + "|NEW").value("ntimes").toInt(), 7);
    QCOMPARE(permAfter.value(dbs[0] + "|NEW").value("access").toBool(), false);

    // New rows carry the defaults and a fresh identifier, and each is
    // journalled as added with its identifier and database.
    QMap<QString, QString> newUserDbIds, newPermIds; // syncwellno -> DB
    checkNewRows(kUserDb, userDbBefore, false, newUserDbIds);
    checkNewRows(kPerm, permBefore, true, newPermIds);
    Table userDb(kAlias, kUserDb);
    userDb.open();
    QVERIFY(userDb.findKey({dbs[1], "NEW"}));
    QCOMPARE(userDb.fieldByName("ntimes").asInteger(), 0);
    for (const QString font : {"FontData", "FontLabel", "FontGrid"}) {
        QCOMPARE(userDb.fieldByName(font + "Size").asInteger(), 9);
        QCOMPARE(userDb.fieldByName(font + "Color").asInteger(), 0);
        QCOMPARE(userDb.fieldByName(font + "Style").asInteger(), 0);
        QCOMPARE(userDb.fieldByName(font + "Name").asString(), QString("Arial"));
    }
    QVERIFY(newUserDbIds.size() >= dbs.size()); // the new user's and the user without rows
    QVERIFY(newPermIds.size() >= dbs.size());

    const auto journal = testkit::journalEntries().mid(journalBefore);
    QMap<QString, QString> journalledUserDb, journalledPerm;
    for (const testkit::JournalEntry& row : journal) {
        QCOMPARE(row.action, int(support::ActionAdded));
        QVERIFY2(row.table == kUserDbCode || row.table == kPermCode, qPrintable(QString::number(row.table)));
        (row.table == kUserDbCode ? journalledUserDb : journalledPerm).insert(row.recno, row.db);
    }
    QCOMPARE(journal.size(), newUserDbIds.size() + newPermIds.size());
    QCOMPARE(journalledUserDb, newUserDbIds);
    QCOMPARE(journalledPerm, newPermIds);

    // A second run finds nothing to do.
    cleanUp(w);
    QCOMPARE(pairRows(kUserDb), userDbAfter);
    QCOMPARE(pairRows(kPerm), permAfter);
    QCOMPARE(testkit::journalEntries().size(), journalBefore + journal.size());

    // Without databases every pair row goes; the users stay.
    testkit::deleteAllRows(kDatabase);
    cleanUp(w);
    QCOMPARE(testkit::rowCount(kUserDb), 0);
    QCOMPARE(testkit::rowCount(kPerm), 0);
    QCOMPARE(testkit::column(kUserPref, fWho), users);
}

void TestCleanUp::backupRotatesByDayParity()
{
    QCOMPARE(shell::backupFolderName(36526), QString("backup1")); // 1 January 2000
    QCOMPARE(shell::backupFolderName(36527), QString("backup2"));

    TestInstall install;
    QVERIFY(install.ok());
    support::MessageScript messages;
    support::ClockOverride clock(QDateTime(QDate(2000, 1, 1), QTime(23, 59)));
    const QDir data(install.dataDir());

    TfrmMain w;
    w.tblUserDB.open();
    QVERIFY(backUp(w));
    QVERIFY(!w.tblUserPref.active());
    QVERIFY(!w.tblUserDB.active());
    verifyCopies(data, "backup1");
    QVERIFY(!data.exists("backup2"));
    // Our tables have no separate index or memo files.
    QCOMPARE(QDir(data.filePath("backup1")).entryList({"*.px", "*.mb"}, QDir::Files), QStringList());

    // A second exit the same day overwrites that day's copy.
    testkit::addRow(catalogue::kUserPref, {{catalogue::fWho, "LAT"}});
    QVERIFY(backUp(w));
    QCOMPARE(RawDb(data.filePath("backup1/userpref.db")).text("SELECT count(*) FROM userpref WHERE Who = 'LAT'"),
             QString("1"));
    QVERIFY(!data.exists("backup2"));
    QVERIFY(messages.shown().isEmpty());

    // The next day, a file where its folder should be stops the backup
    // before anything is closed.
    clock.set(QDateTime(QDate(2000, 1, 2), QTime(0, 1)));
    QFile blocker(data.filePath("backup2"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    w.tblUserPref.open();
    QVERIFY(!backUp(w));
    QCOMPARE(messages.texts(),
             QStringList{"Could not create backup folder under the DATA folder.  Unable to make temporary "
                         "backup of the userpref.*, userdb.* and settings.* files"});
    QCOMPARE(messages.shown().value(0).kind, support::BoxKind::Error);
    QVERIFY(messages.details().value(0).contains(QDir::toNativeSeparators(data.filePath("backup2"))));
    QVERIFY(w.tblUserPref.active());

    // A missing table is skipped: its earlier copy stays as it was.
    messages.clear();
    QVERIFY(blocker.remove() && data.mkpath("backup2"));
    QFile earlier(data.filePath("backup2/settings.db"));
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier copy");
    earlier.close();
    if (TestInstall::onServer())
        QVERIFY(RawDb(data.filePath("settings.db")).exec("DROP TABLE settings"));
    else
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(data.filePath(QString("settings.db") + suffix));
    QVERIFY(backUp(w));
    QVERIFY(messages.shown().isEmpty());
    QVERIFY(QFileInfo(data.filePath("backup2/userpref.db")).size() > 0);
    QVERIFY(QFileInfo(data.filePath("backup2/userdb.db")).size() > 0);
    QVERIFY(earlier.open(QIODevice::ReadOnly));
    QCOMPARE(earlier.readAll(), QByteArray("earlier copy"));
    QVERIFY(!data.exists("settings.db"));
}

void TestCleanUp::backupHoldsRowsCommittedByAnotherConnection()
{
    TestInstall install;
    QVERIFY(install.ok());
    support::MessageScript messages;
    support::ClockOverride clock(QDateTime(QDate(2000, 1, 1), QTime(12, 0)));

    // Another program commits rows and keeps its connection; on table files
    // with automatic checkpoints off, so that the rows live only in the
    // write-ahead log.
    const QString source = shell::joinPath(shell::aliasDirectory(catalogue::kAlias), "userpref.db");
    RawDb writer(source);
    if (!writer.onServer()) {
        QVERIFY(writer.exec("PRAGMA wal_autocheckpoint = 0"));
        QCOMPARE(writer.text("PRAGMA journal_mode"), QString("wal"));
    }
    QVERIFY(writer.exec("BEGIN"));
    for (int i = 0; i < 50; ++i)
        QVERIFY(writer.exec(QString("INSERT INTO userpref (\"Who\", \"FullName\") VALUES ('W%1', 'Written by another')")
                                .arg(i, 2, 10, QChar('0'))));
    QVERIFY(writer.exec("COMMIT"));
    if (!writer.onServer())
        QVERIFY(QFileInfo(source + "-wal").size() > 0);

    TfrmMain w;
    QVERIFY(backUp(w));

    const QString copyPath = QDir(install.dataDir()).filePath("backup1/userpref.db");
    QVERIFY(!QFileInfo::exists(copyPath + "-wal") || QFileInfo(copyPath + "-wal").size() == 0);
    RawDb copy(copyPath);
    QCOMPARE(copy.text("PRAGMA integrity_check"), QString("ok"));
    QCOMPARE(copy.text("SELECT count(*) FROM userpref WHERE \"FullName\" = 'Written by another'"), QString("50"));
    QCOMPARE(copy.text("SELECT count(*) FROM userpref"), writer.text("SELECT count(*) FROM userpref"));
}

void TestCleanUp::closingTheMainWindow()
{
    TestInstall install;
    QVERIFY(install.ok());
    support::MessageScript messages;
    support::ClockOverride clock(QDateTime(QDate(2000, 1, 2), QTime(12, 0)));
    const QDir data(install.dataDir());
    const int pairs = testkit::rowCount(catalogue::kDatabase) * testkit::rowCount(catalogue::kUserPref);

    // Another program holds PERM.DB for itself: the clean-up fails, the
    // error is shown, nothing is backed up and the window stays open.
    testkit::OtherProgram other(install);
    QVERIFY(other.hold(catalogue::kPerm, "exclusive"));
    TfrmMain window(install.root());
    window.show();
    messages.clear();
    QVERIFY(!window.close());
    QVERIFY(window.isVisible());
    QCOMPARE(messages.shown().size(), 1);
    QCOMPARE(messages.shown().value(0).kind, support::BoxKind::Error);
    QVERIFY(!data.exists("backup2"));
    other.release();

    // Closing again runs the clean-up and the backup to their end; the new
    // permission rows are journalled by the window's hook.
    messages.clear();
    const int journalBefore = testkit::journalEntries().size();
    QVERIFY(window.close());
    QVERIFY(messages.shown().isEmpty());
    QCOMPARE(testkit::rowCount(catalogue::kUserDb), pairs);
    QCOMPARE(testkit::rowCount(catalogue::kPerm), pairs);
    verifyCopies(data, "backup2");
    // The copy holds the rows the clean-up just added.
    QCOMPARE(RawDb(data.filePath("backup2/userdb.db")).text("SELECT count(*) FROM userdb"), QString::number(pairs));
    int permAdded = 0;
    for (const testkit::JournalEntry& row : testkit::journalEntries().mid(journalBefore))
        permAdded += row.table == kPermCode && row.action == support::ActionAdded;
    QVERIFY(permAdded > 0); // the installation leaves a user without rows
}

void TestCleanUp::cancelledCleanUpKeepsWholeRows()
{
    TestInstall install;
    QVERIFY(install.ok());
    support::MessageScript messages;
    const QDateTime start(QDate(2000, 1, 2), QTime(12, 0));
    support::ClockOverride clock(start);
    const QDir data(install.dataDir());
    testkit::deleteAllRows(catalogue::kUserDb);
    testkit::deleteAllRows(catalogue::kPerm);
    const int pairs = testkit::rowCount(catalogue::kDatabase) * testkit::rowCount(catalogue::kUserPref);
    QVERIFY(pairs > 4);
    const int journalBefore = testkit::journalEntries().size();

    // The exit takes a while: its progress window shows after the third new
    // USERDB.DB row, and Esc there stops the clean-up after the fourth. The
    // window closes, and the backup holds what was done.
    {
        TfrmMain window(install.root());
        window.show();
        int made = 0;
        QString countShown;
        window.tblUserDB.onNewRecord = [&, inner = window.tblUserDB.onNewRecord](Table& t) {
            if (++made == 3)
                clock.set(start.addMSecs(ui::ProgressWindow::kShowAfterMs));
            if (made == 4) {
                auto* progress = window.findChild<ui::ProgressWindow*>();
                if (progress && progress->isVisible()) {
                    countShown = progress->countText();
                    QTest::keyClick(progress, Qt::Key_Escape);
                }
            }
            inner(t);
        };
        messages.clear();
        QVERIFY(window.close());
        QCOMPARE(countShown, QString("3 of %1 pairs").arg(pairs));
        QVERIFY(messages.shown().isEmpty());
        QVERIFY(!window.findChild<ui::ProgressWindow*>());
        QCOMPARE(testkit::rowCount(catalogue::kUserDb), 4);
        QCOMPARE(testkit::rowCount(catalogue::kPerm), 0);
        verifyCopies(data, "backup2");
        QCOMPARE(RawDb(data.filePath("backup2/userdb.db")).text("SELECT count(*) FROM userdb"), QString("4"));
    }
    verifyWholeAndJournalled(data, journalBefore);

    // Stopped in the new PERM.DB rows: each is whole with its journal row.
    TfrmMain w;
    StopAfter stop(pairs + pairs + 2); // every pair, every USERDB.DB row, two PERM.DB pairs
    QVERIFY(!shell::cleanUp(w.tblDatabase, w.tblUserDB, w.tblUserPref, w.tblPerm, &stop));
    QCOMPARE(stop.totals, (QList<qint64>{pairs, pairs, pairs}));
    QCOMPARE(testkit::rowCount(catalogue::kUserDb), pairs);
    QCOMPARE(testkit::rowCount(catalogue::kPerm), 2);
    verifyWholeAndJournalled(data, journalBefore);

    // The next exit finishes the work.
    QVERIFY(w.FormClose());
    QCOMPARE(testkit::rowCount(catalogue::kUserDb), pairs);
    QCOMPARE(testkit::rowCount(catalogue::kPerm), pairs);
    verifyWholeAndJournalled(data, journalBefore);
    QVERIFY(messages.shown().isEmpty());
}

QTEST_MAIN(TestCleanUp)
#include "tst_cleanup.moc"
