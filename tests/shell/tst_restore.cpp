// Restoring a user from the exit backup: the plain restore logic and the
// restore window, on real backups made by the exit backup.

#include "shell/Backup.h"
#include "shell/DeleteUser.h"
#include "shell/Restore.h"
#include "shell/RestoreWindow.h"
#include "store/Catalogue.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Clock.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "testkit/OtherProgram.h"
#include "testkit/Screenshots.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

using testkit::RawDb;

namespace {

const int kUserPrefCode = 12;
const int kPermCode = 10;
const int kUserDbCode = 13;

// The exit backup into folder 1 (an even day) or 2 (an odd one).
void backUpInto(int folder)
{
    support::ClockOverride clock(QDateTime(QDate(2000, 1, folder == 1 ? 1 : 2), QTime(12, 0)));
    store::Table userPref(catalogue::kAlias, catalogue::kUserPref);
    store::Table userDb(catalogue::kAlias, catalogue::kUserDb);
    QVERIFY(shell::backupUserTables(userPref, userDb));
}

// The user's row alone, as another supervisor's mistake would remove it.
void deleteUserRow(const QString& who)
{
    store::Table userPref(catalogue::kAlias, catalogue::kUserPref);
    userPref.open();
    QVERIFY(userPref.findKey({who}));
    userPref.deleteRecord();
}

// Every permission flag of the user's rows set to value, as a careless edit
// would leave them.
void setAllPermissions(const QString& who, bool value)
{
    store::Table perm(catalogue::kAlias, catalogue::kPerm);
    perm.open();
    for (perm.first(); !perm.eof(); perm.next()) {
        if (perm.fieldByName(catalogue::fWho).asString() != who)
            continue;
        perm.edit();
        for (int i = 0; i < perm.fieldCount(); ++i)
            if (perm.field(i).dataType() == store::FieldType::Boolean)
                perm.field(i).setAsBoolean(value);
        perm.post();
    }
}

// The user's rows of a (DB, Who) table without their identity, to compare
// before and after.
QStringList rowsOf(const QString& table, const QString& who)
{
    QStringList rows;
    for (QVariantMap row : testkit::tableRows(table)) {
        if (row.value("who").toString() != who)
            continue;
        row.remove("syncwellno");
        QStringList cells;
        for (auto it = row.cbegin(); it != row.cend(); ++it)
            cells << it.key() + '=' + it.value().toString();
        rows << cells.join(',');
    }
    return rows;
}

QString errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const shell::RestoreError& e) {
        return e.message;
    }
    return QString();
}

const shell::BackupUser* findUser(const shell::BackupFolder& folder, const QString& who)
{
    for (const shell::BackupUser& user : folder.users)
        if (user.who == who)
            return &user;
    return nullptr;
}

} // namespace

class TestRestore : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        install = std::make_unique<JournalledInstall>();
        QVERIFY(install->ok());
        users = testkit::column(catalogue::kUserPref, catalogue::fWho);
        QVERIFY(users.size() >= 3);
    }
    void cleanup() { install.reset(); }

    void restoresDeletedUser_data();
    void restoresDeletedUser();
    void restoresWipedPermissions_data() { restoresDeletedUser_data(); }
    void restoresWipedPermissions();
    void refusesIdTakenOrRowsChangedMeanwhile();
    void refusesBadBackupTables_data();
    void refusesBadBackupTables();
    void refusesTableHeldExclusively();
    void windowRestoresChosenUser();

private:
    QString backupPath(int folder, const QString& file) const
    {
        return QDir(install->dataDir()).filePath(QStringLiteral("backup%1/%2").arg(folder).arg(file));
    }

    std::unique_ptr<JournalledInstall> install;
    QStringList users;
};

// A deleted user comes back with the rows the backup holds, from either
// folder, each row journalled as added; the list marks the user deleted.
void TestRestore::restoresDeletedUser_data()
{
    QTest::addColumn<int>("folder");
    QTest::newRow("backup1") << 1;
    QTest::newRow("backup2") << 2;
}

void TestRestore::restoresDeletedUser()
{
    QFETCH(int, folder);
    const QString who = users[1];
    const QVariantMap prefBefore = testkit::findRow(catalogue::kUserPref, "Who", who);
    const QStringList permBefore = rowsOf(catalogue::kPerm, who);
    const QStringList userDbBefore = rowsOf(catalogue::kUserDb, who);
    QCOMPARE(permBefore.size(), 2);
    backUpInto(folder);
    QVERIFY(QFileInfo(backupPath(folder, "perm.db")).isFile());

    {
        store::Table userPref(catalogue::kAlias, catalogue::kUserPref);
        userPref.open();
        QVERIFY(userPref.findKey({who}));
        userPref.deleteRecord();
        store::Table userDb(catalogue::kAlias, catalogue::kUserDb), perm(catalogue::kAlias, catalogue::kPerm);
        shell::deleteUserFromAllDB(who, {&userDb, &perm});
    }
    testkit::addRow(catalogue::kPerm, {{"DB", "GONE"}, {"Who", users[0]}}); // not this user's
    const int journalFrom = testkit::journalEntries().size();

    const QList<shell::BackupFolder> folders = shell::listBackups();
    QCOMPARE(folders.size(), 2);
    const shell::BackupFolder& listed = folders[folder - 1];
    QVERIFY(listed.exists);
    QVERIFY2(listed.problem.isEmpty(), qPrintable(listed.problem));
    QVERIFY(listed.written.isValid());
    QVERIFY(!folders[2 - folder].exists);
    QVERIFY(!folders[2 - folder].problem.isEmpty());
    QCOMPARE(listed.users.size(), users.size());
    QCOMPARE(findUser(listed, who)->status, shell::UserStatus::Deleted);
    QCOMPARE(findUser(listed, who)->fullName, prefBefore.value("fullname").toString());
    QCOMPARE(findUser(listed, users[2])->status, shell::UserStatus::Same);
    QVERIFY(shell::backupLines(folders).contains(
        QString("  %1  %2  (deleted since)").arg(who, prefBefore.value("fullname").toString())));

    shell::UserRestore restore(folder, who);
    QVERIFY(restore.deletedSince());
    const shell::RestoreResult dry = restore.restore(true);
    QCOMPARE(dry.rows.size(), 5);
    QVERIFY(dry.lines().first().contains("would be added"));
    QCOMPARE(testkit::journalEntries().size(), journalFrom); // a dry run writes nothing
    QVERIFY(testkit::findRow(catalogue::kUserPref, "Who", who).isEmpty());

    const shell::RestoreResult done = restore.restore();
    QCOMPARE(done.rows.size(), 5);
    QVERIFY(done.leftOut.isEmpty());
    QCOMPARE(testkit::findRow(catalogue::kUserPref, "Who", who), prefBefore);
    QCOMPARE(rowsOf(catalogue::kPerm, who), permBefore);
    QCOMPARE(rowsOf(catalogue::kUserDb, who), userDbBefore);

    // One journal row per row added: the user by its ID, the others by
    // their (fresh) record identifiers.
    QStringList journal;
    for (const testkit::JournalEntry& e : testkit::journalEntries().mid(journalFrom))
        journal << QStringLiteral("%1/%2").arg(e.table).arg(e.action);
    QCOMPARE(journal, QStringList({"12/2", "10/2", "10/2", "13/2", "13/2"}));
    QCOMPARE(testkit::journalEntries().value(journalFrom).recno, who);
    for (const QVariantMap& row : testkit::tableRows(catalogue::kPerm))
        if (row.value("who") == who)
            QCOMPARE(row.value("syncwellno").toString().size(), 24);

    // Restored, the user reads the same as the backup.
    shell::UserRestore again(folder, who);
    QVERIFY(again.plan().rows.isEmpty());
    QCOMPARE(again.restore().lines(), QStringList{"Nothing differs from the backup."});
}

// Permissions wiped since the backup are written back as changed rows; a
// permission row deleted since comes back as added; a database that no
// longer exists is left out and named.
void TestRestore::restoresWipedPermissions()
{
    QFETCH(int, folder);
    const QString who = users[2];
    setAllPermissions(who, true);
    QStringList permBefore = rowsOf(catalogue::kPerm, who);
    backUpInto(folder);
    setAllPermissions(who, false);
    const QStringList databases = testkit::column(catalogue::kDatabase, "DB");
    QVERIFY(RawDb(QDir(install->dataDir()).filePath("perm.db"))
                .exec(QStringLiteral("DELETE FROM perm WHERE \"DB\" = '%1' AND \"Who\" = '%2'").arg(databases[0], who)));
    QVERIFY(RawDb(QDir(install->dataDir()).filePath("database.db"))
                .exec(QStringLiteral("DELETE FROM database WHERE \"DB\" = '%1'").arg(databases[1])));
    const int journalFrom = testkit::journalEntries().size();

    shell::UserRestore restore(folder, who);
    QVERIFY(!restore.deletedSince());
    QVERIFY(restore.otherPersonWarning().isEmpty());
    // The side-by-side view: flags by their captions, the missing row, and
    // the password only as same or differing.
    bool sawAccess = false, sawPassword = false, sawNoRow = false;
    const QString password = testkit::findRow(catalogue::kUserPref, "Who", who).value("password").toString();
    for (const shell::CompareLine& line : restore.compare()) {
        QVERIFY(password.isEmpty() || (!line.backup.contains(password) && !line.now.contains(password)));
        if (line.section == QString("Permissions in %1").arg(databases[1]) && line.item == "Access") {
            QVERIFY(line.differs);
            QCOMPARE(line.backup, QString("Yes"));
            QCOMPARE(line.now, QString("No"));
            sawAccess = true;
        }
        if (line.item == "Password") {
            QCOMPARE(line.now, QString("same"));
            sawPassword = true;
        }
        sawNoRow = sawNoRow || (line.section == QString("Permissions in %1").arg(databases[0]) && line.now == "(no row)");
    }
    QVERIFY(sawAccess && sawPassword && sawNoRow);
    QVERIFY(restore.differenceLines().contains(QString("Permissions in %1: Access: Yes -> No").arg(databases[1])));

    const shell::RestoreResult done = restore.restore();
    QCOMPARE(done.leftOut, QStringList{databases[1]});
    QCOMPARE(done.rows.size(), 1);
    QCOMPARE(done.rows[0].kind, shell::RestoredRow::Added);
    QCOMPARE(done.rows[0].db, databases[0]);
    QVERIFY(done.lines().last().contains(databases[1]));
    QCOMPARE(rowsOf(catalogue::kPerm, who).first(), permBefore.first());
    QCOMPARE(testkit::journalLines(journalFrom).size(), 1);

    // With the database back, its wiped row is written back as changed,
    // every flag at once, and journalled once.
    testkit::addRow(catalogue::kDatabase, {{"DB", databases[1]}});
    shell::UserRestore second(folder, who);
    const shell::RestoreResult changed = second.restore();
    QCOMPARE(changed.rows.size(), 1);
    QCOMPARE(changed.rows[0].kind, shell::RestoredRow::Changed);
    QVERIFY(changed.rows[0].fields.contains("Access", Qt::CaseInsensitive));
    QCOMPARE(rowsOf(catalogue::kPerm, who), permBefore);
    const QList<testkit::JournalEntry> journal = testkit::journalEntries().mid(journalFrom);
    QCOMPARE(journal.size(), 2);
    QCOMPARE(journal[1].table, kPermCode);
    QCOMPARE(journal[1].action, int(support::ActionChanged));
    QCOMPARE(journal[1].db, databases[1]);
}

// Nothing is written when the rows are no longer as they were shown: a new
// user took the deleted user's ID, or another program changed a row.
void TestRestore::refusesIdTakenOrRowsChangedMeanwhile()
{
    const QString gone = users[1];
    const QString kept = users[2];
    const QString goneName = testkit::findRow(catalogue::kUserPref, "Who", gone).value("fullname").toString();
    backUpInto(1);
    testkit::deleteAllRows(catalogue::kPerm);
    {
        store::Table userPref(catalogue::kAlias, catalogue::kUserPref);
        userPref.open();
        QVERIFY(userPref.findKey({gone}));
        userPref.deleteRecord();
        QVERIFY(userPref.findKey({kept}));
        userPref.edit();
        userPref.fieldByName(catalogue::fFullName).setAsString("Changed here");
        userPref.post();
    }
    shell::UserRestore restoreGone(1, gone);
    shell::UserRestore restoreKept(1, kept);
    const int journalFrom = testkit::journalEntries().size();

    QVERIFY(testkit::OtherProgram::runSql(QDir(install->dataDir()).filePath("userpref.db"),
                                          QStringLiteral("INSERT INTO userpref (\"Who\", \"FullName\") VALUES ('%1', 'Newcomer');")
                                              .arg(gone)));
    QCOMPARE(errorOf([&] { restoreGone.restore(); }),
             QString("The user ID \"%1\" has been given to another user since the backup was shown.  The deleted "
                     "user was not restored.").arg(gone));
    QCOMPARE(testkit::findRow(catalogue::kUserPref, "Who", gone).value("fullname").toString(), QString("Newcomer"));
    // Shown again, the newcomer's row would be overwritten: the full name
    // that differs is said.
    QCOMPARE(shell::UserRestore(1, gone).otherPersonWarning(),
             QString("User \"%1\" is \"Newcomer\" now and was \"%2\" in the backup.  The user ID may have been "
                     "given to another person.").arg(gone, goneName));

    QVERIFY(testkit::OtherProgram::runSql(QDir(install->dataDir()).filePath("userpref.db"),
                                          QStringLiteral("UPDATE userpref SET \"FullName\" = 'Renamed' WHERE \"Who\" = '%1';")
                                              .arg(kept)));
    const QString changed = errorOf([&] { restoreKept.restore(); });
    QVERIFY2(changed.startsWith(QString("The rows of user \"%1\" were changed by another program").arg(kept)),
             qPrintable(changed));
    QCOMPARE(testkit::rowCount(catalogue::kPerm), 0);
    QCOMPARE(testkit::findRow(catalogue::kUserPref, "Who", kept).value("fullname").toString(), QString("Renamed"));
    QCOMPARE(testkit::journalEntries().size(), journalFrom);

    // Shown again, the restore goes ahead and puts the name back too.
    shell::UserRestore shownAgain(1, kept);
    QCOMPARE(shownAgain.restore().rows.size(), 3);
    QVERIFY(testkit::findRow(catalogue::kUserPref, "Who", kept).value("fullname").toString() != "Renamed");
}

// A backup table that is missing, damaged or of another layout is named in
// the message, the folder lists no users, and the live tables stay as they
// are.
void TestRestore::refusesBadBackupTables_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("message");
    const QString missing = "The backup folder %1 holds no copy of %2.  Nothing can be restored from it.";
    const QString damaged = "The copy of %2 in the backup folder %1 cannot be read.  It may be damaged.  Nothing "
                            "can be restored from it.";
    const QString layout = "The copy of %2 in the backup folder %1 has another layout than the table in use.  "
                           "Nothing can be restored from it.";
    QTest::newRow("perm missing") << "perm.db" << "remove" << missing;
    QTest::newRow("userpref overwritten") << "userpref.db" << "header" << damaged;
    QTest::newRow("userdb cut short") << "userdb.db" << "truncate" << damaged;
    QTest::newRow("perm with another field") << "perm.db" << "addfield" << layout;
    QTest::newRow("userpref without its key") << "userpref.db" << "nokey" << layout;
}

void TestRestore::refusesBadBackupTables()
{
    QFETCH(QString, file);
    QFETCH(QString, damage);
    QFETCH(QString, message);
    const QString who = users[1];
    backUpInto(2);
    setAllPermissions(who, false);
    const QString path = backupPath(2, file);
    if (damage == "remove") {
        QVERIFY(QFile::remove(path));
    } else if (damage == "header" || damage == "truncate") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        if (damage == "header") {
            f.write(QByteArray(100, 'x'));
        } else {
            QVERIFY(f.size() > 8192);
            QVERIFY(f.resize(f.size() / 2));
        }
    } else if (damage == "addfield") {
        QVERIFY(RawDb(path).exec("ALTER TABLE perm ADD COLUMN \"Extra\" BOOLEAN"));
    } else {
        RawDb db(path);
        QVERIFY(db.exec("CREATE TABLE plain AS SELECT * FROM userpref"));
        QVERIFY(db.exec("DROP TABLE userpref"));
        QVERIFY(db.exec("ALTER TABLE plain RENAME TO userpref"));
    }
    const QString expected = message.arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath()), file);
    const QStringList permBefore = rowsOf(catalogue::kPerm, who);
    const int journalFrom = testkit::journalEntries().size();

    const shell::BackupFolder folder = shell::listBackups().value(1);
    QCOMPARE(folder.problem, expected);
    QVERIFY(folder.users.isEmpty());
    QCOMPARE(errorOf([&] { shell::UserRestore(2, who).restore(); }), expected);
    QCOMPARE(rowsOf(catalogue::kPerm, who), permBefore);
    QCOMPARE(testkit::journalEntries().size(), journalFrom);
}

// A table another program holds for itself stops the restore before any
// table is written, the user table included; Kontiva merely running does
// not.
void TestRestore::refusesTableHeldExclusively()
{
    const QString who = users[1];
    backUpInto(1);
    testkit::OtherProgram other(*install);
    deleteUserRow(who);
    shell::UserRestore restore(1, who);
    QVERIFY(other.hold(catalogue::kUserDb, "exclusive"));
    shell::RestoreError error("");
    try {
        restore.restore();
    } catch (const shell::RestoreError& e) {
        error = e;
    }
    QCOMPARE(error.message, QString("User \"%1\" could not be restored.  Nothing was restored.").arg(who));
    QVERIFY2(error.detail.contains("another program is using it exclusively"), qPrintable(error.detail));
    QVERIFY(testkit::findRow(catalogue::kUserPref, "Who", who).isEmpty());
    other.release();
    // Released, the restore goes ahead, with Kontiva in use meanwhile.
    testkit::OtherProgram kontiva(*install);
    QVERIFY(kontiva.hold(catalogue::kContact));
    QCOMPARE(restore.restore().rows.first().kind, shell::RestoredRow::Added);
    QVERIFY(!testkit::findRow(catalogue::kUserPref, "Who", who).isEmpty());
}

// The window as the supervisor uses it: pick the folder and the user, look
// at the two sides, confirm, and the user is back; Help opens its topic.
void TestRestore::windowRestoresChosenUser()
{
    const QString who = users[1];
    backUpInto(2);
    deleteUserRow(who);
    support::MessageScript messages;
    support::HelpRecorder help;
    TfrmRestore window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.cbFolder->count(), 2);
    QVERIFY(window.cbFolder->itemText(0).contains("backup1"));
    QCOMPARE(window.cbFolder->currentIndex(), 1); // the folder that holds a backup
    QVERIFY(!window.btRestore->isEnabled());

    QListWidgetItem* item = nullptr;
    for (int i = 0; i < window.lbUsers->count(); ++i)
        if (window.lbUsers->item(i)->text().startsWith(who + ' '))
            item = window.lbUsers->item(i);
    QVERIFY(item);
    QVERIFY(item->text().endsWith("(deleted since)"));
    window.lbUsers->setCurrentItem(item);
    QVERIFY(window.btRestore->isEnabled());
    QVERIFY(window.tvCompare->topLevelItemCount() >= 3);
    testkit::saveScreenshot(&window, "restore.png");

    QTest::mouseClick(window.btHelp, Qt::LeftButton);
    QCOMPARE(help.lastContext(), TfrmRestore::kHelpContext);

    messages.answerYes();
    QTest::mouseClick(window.btRestore, Qt::LeftButton);
    QVERIFY(!testkit::findRow(catalogue::kUserPref, "Who", who).isEmpty());
    QCOMPARE(messages.shown().size(), 2);
    QCOMPARE(messages.shown()[0].kind, support::BoxKind::Question);
    QVERIFY(messages.shown()[1].text.startsWith(QString("User \"%1\" was restored.").arg(who)));
    QVERIFY(!window.lbUsers->currentItem()->text().endsWith(")")); // now the same as the backup
}

QTEST_MAIN(TestRestore)
#include "tst_restore.moc"
