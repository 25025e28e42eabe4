// Deleting a user from the main window, with a second program on the
// contact table.

#include "shell/Main.h"
#include "store/Catalogue.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Messages.h"
#include "testkit/TestInstall.h"

#include <QCoreApplication>
#include <QMap>
#include <QProcess>
#include <QtTest>

using store::Table;

namespace {

const QString kInUse = "Could not get exclusive access to the contact.db table.  Somebody is using Kontiva";
const QString kDeleted = "Now that this user is deleted, you may want to assign his marketing plans and pending "
                         "events to other users. Use the Replace User button.";
const QStringList kPerUserTables{catalogue::kUserDb, catalogue::kPerm,  catalogue::kHoliday,
                                 catalogue::kInOut,  catalogue::kMarks, catalogue::kUsersOn};
const int kUserPrefCode = 12;

QString holdTableProgram()
{
    return QCoreApplication::applicationDirPath() + "/hold_table";
}

// A second program that opens a table through the store.
class OtherProgram {
public:
    explicit OtherProgram(const TestInstall& install) : m_install(install) {}
    ~OtherProgram()
    {
        if (m_hold.state() != QProcess::NotRunning) {
            m_hold.closeWriteChannel();
            if (!m_hold.waitForFinished(5000))
                m_hold.kill();
        }
    }
    // Holds the table open until this object goes; true once it holds it.
    bool hold(const QString& table)
    {
        m_hold.start(holdTableProgram(), {m_install.configPath(), m_install.netDir(), table, "shared"});
        if (!m_hold.waitForReadyRead(10000))
            return false;
        return m_hold.readLine().trimmed() == "ready";
    }
    // Tries to open the table and lets go at once: "opened" or "failed: ...".
    QString tryOpen(const QString& table, bool exclusive = false) const
    {
        QProcess p;
        p.start(holdTableProgram(), {m_install.configPath(), m_install.netDir(), table,
                                     exclusive ? "tryexclusive" : "try"});
        if (!p.waitForFinished(10000))
            return "no answer";
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

private:
    const TestInstall& m_install;
    QProcess m_hold;
};

// Every row's Who in each per-user table and the user table.
QMap<QString, QStringList> owners()
{
    QMap<QString, QStringList> result;
    for (const QString& name : kPerUserTables + QStringList{catalogue::kUserPref}) {
        Table t(catalogue::kAlias, name);
        t.open();
        QStringList who;
        for (t.first(); !t.eof(); t.next())
            who << t.fieldByName(catalogue::fWho).asString();
        who.sort();
        result.insert(name, who);
    }
    return result;
}

int journalCount()
{
    Table t(catalogue::kAlias, catalogue::kMerge);
    t.open();
    return t.recordCount();
}

void addRow(const QString& tableName, const QString& who)
{
    Table t(catalogue::kAlias, tableName);
    t.open();
    t.insert();
    t.fieldByName(catalogue::fWho).setAsString(who);
    if (store::Field* db = t.findField(catalogue::fDb))
        db->setAsString(QStringLiteral("D%1").arg(t.recordCount()));
    if (store::Field* id = t.findField(catalogue::fSyncwellNo))
        id->setAsString(QString(24, QChar('A' + t.recordCount() % 25)));
    t.post();
}

// The window holds the contact table shared: another program can open it,
// but not for itself alone.
void verifyContactHeldShared(TfrmMain& window, const OtherProgram& other)
{
    QVERIFY(window.tblContact.active());
    QVERIFY(!window.tblContact.exclusive());
    QCOMPARE(other.tryOpen(catalogue::kContact), QString("opened"));
    QVERIFY(other.tryOpen(catalogue::kContact, true).startsWith("failed"));
}

} // namespace

class TestDeleteUser : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY2(QFile::exists(holdTableProgram()), "build the hold_table helper"); }
    void init() { support::resetJournal(); }

    void refusedWhileContactManagerRuns();
    void answeringNoKeepsEverything();
    void deletesOnlyThatUserExactly();
    void emptyListAsksNothing();
};

void TestDeleteUser::refusedWhileContactManagerRuns()
{
    TestInstall install;
    QVERIFY(install.ok());
    OtherProgram other(install);
    QVERIFY(other.hold(catalogue::kContact));
    const auto before = owners();
    const int journalBefore = journalCount();

    support::MessageScript messages;
    TfrmMain window(install.root());
    window.show();
    messages.clear(); // the show-time message belongs to the window's own tests
    window.btDeleteClick();

    QCOMPARE(messages.texts(), QStringList{kInUse});
    QCOMPARE(messages.shown().value(0).kind, support::BoxKind::Error);
    QCOMPARE(owners(), before);
    QCOMPARE(journalCount(), journalBefore);
}

void TestDeleteUser::answeringNoKeepsEverything()
{
    TestInstall install;
    QVERIFY(install.ok());
    OtherProgram other(install);
    const auto before = owners();
    const int journalBefore = journalCount();

    support::MessageScript messages;
    TfrmMain window(install.root());
    window.show();
    QVERIFY(messages.texts().isEmpty());
    const QString who = window.tblUserPref.fieldByName(catalogue::fWho).asString();
    QVERIFY(!who.isEmpty());

    // While the question is up, no other program can open the contact table.
    QString otherWhileAsked;
    messages.answerWith([&](const QString&) {
        otherWhileAsked = other.tryOpen(catalogue::kContact);
        return false;
    });
    window.btDeleteClick();

    QVERIFY2(otherWhileAsked.startsWith("failed"), qPrintable(otherWhileAsked));
    QCOMPARE(messages.texts(), QStringList{QString("Really delete user \"%1\"?").arg(who)});
    QCOMPARE(messages.shown().value(0).kind, support::BoxKind::Question);
    QCOMPARE(owners(), before);
    QCOMPARE(journalCount(), journalBefore);
    verifyContactHeldShared(window, other);
}

void TestDeleteUser::deletesOnlyThatUserExactly()
{
    TestInstall install;
    QVERIFY(install.ok());
    OtherProgram other(install);
    // Two users whose IDs differ only in letter case, each with rows in
    // every per-user table.
    for (const QString who : {"ABC", "abc"}) {
        addRow(catalogue::kUserPref, who);
        for (const QString& table : kPerUserTables)
            addRow(table, who);
    }
    const auto before = owners();
    const int journalBefore = journalCount();

    support::MessageScript messages;
    TfrmMain window(install.root());
    window.show();
    QVERIFY(window.tblUserPref.findKey({"ABC"}));
    messages.answerYes();
    window.btDeleteClick();

    QCOMPARE(messages.texts(), (QStringList{"Really delete user \"ABC\"?", kDeleted}));
    QCOMPARE(messages.shown().value(1).kind, support::BoxKind::Information);
    const auto after = owners();
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        QStringList expected = it.value();
        expected.removeAll("ABC");
        QVERIFY(it.value().contains("abc"));
        QCOMPARE(after.value(it.key()), expected);
    }

    // Only the user row's deletion is journalled.
    Table journal(catalogue::kAlias, catalogue::kMerge);
    journal.open();
    QCOMPARE(journal.recordCount(), journalBefore + 1);
    int seen = 0;
    for (journal.first(); !journal.eof(); journal.next())
        if (++seen > journalBefore) {
            QCOMPARE(journal.fieldByName("database").asInteger(), kUserPrefCode);
            QCOMPARE(journal.fieldByName("action").asInteger(), int(support::ActionDeleted));
            QCOMPARE(journal.fieldByName("recno").asString(), QString("ABC"));
        }
    verifyContactHeldShared(window, other);
}

void TestDeleteUser::emptyListAsksNothing()
{
    TestInstall install;
    QVERIFY(install.ok());
    OtherProgram other(install);
    {
        Table users(catalogue::kAlias, catalogue::kUserPref);
        users.open();
        users.first();
        while (!users.eof())
            users.deleteRecord();
    }
    const auto before = owners();

    support::MessageScript messages;
    TfrmMain window(install.root());
    window.show();
    window.btDeleteClick();

    QVERIFY(messages.texts().isEmpty());
    QCOMPARE(owners(), before);
    verifyContactHeldShared(window, other);
}

QTEST_MAIN(TestDeleteUser)
#include "tst_delete_user.moc"
