// The user dialog, opened by the main window's Add and Modify on a real
// installation: what can be typed, the checks of OK, what is saved and
// journalled, and that nothing stays behind after Cancel or the close box.

#include "accounts/Passwd.h"
#include "accounts/User.h"
#include "shell/Main.h"
#include "store/Catalogue.h"
#include "support/Changes.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"
#include "ui/DbEdit.h"
#include "ui/DialogTestKit.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

using testkit::whenModal;

namespace {

QVariantMap userRow(const QString& who)
{
    return testkit::findRow(catalogue::kUserPref, catalogue::fWho, who);
}

} // namespace

class TestUserDialog : public QObject {
    Q_OBJECT

    std::unique_ptr<TestInstall> install;
    std::unique_ptr<TfrmMain> main;
    QString firstWho;

private slots:
    void init()
    {
        install = std::make_unique<TestInstall>();
        QVERIFY(install->ok());
        main = std::make_unique<TfrmMain>();
        QVERIFY(support::journalActive());
        QVERIFY(main->tblUserPref.active());
        firstWho = main->tblUserPref.fieldByName("Who").asString();
        QVERIFY(!firstWho.isEmpty());
    }

    void cleanup()
    {
        main.reset();
        install.reset();
    }

    void addSavesTheNewUserAndJournalsIt()
    {
        const int users = testkit::rowCount(catalogue::kUserPref);
        const int journal = testkit::journalEntries().size();
        support::MessageScript script;
        bool ran = false;
        whenModal<TfrmUser>([](TfrmUser* d) {
            QVERIFY(!d->edWho->isReadOnly());
            QVERIFY(!d->lblChange->isVisible());
            QCOMPARE(d->focusWidget(), d->edWho);
            QTest::keyClicks(d->edWho, "zz");
            QCOMPARE(d->edWho->text(), QStringLiteral("ZZ"));
            QTest::keyClicks(d->edFullname, "Zoe Zimmer");
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        }, &ran);
        QTest::mouseClick(main->btAdd, Qt::LeftButton);
        QVERIFY(ran);
        QVERIFY(script.shown().isEmpty());

        QCOMPARE(testkit::rowCount(catalogue::kUserPref), users + 1);
        const QVariantMap row = userRow("ZZ");
        QCOMPARE(row.value("fullname").toString(), QStringLiteral("Zoe Zimmer"));
        // A new user starts as a supervisor with every flag granted, apart
        // from the automatic follow-ups.
        QVERIFY(row.value("superuser").toBool());
        QVERIFY(row.value("sysbroadcast").toBool() && row.value("syssetupwp").toBool());
        QVERIFY(row.value("showhint").toBool() && row.value("viewbuttons").toBool());
        QVERIFY(!row.value("autofollowcall").toBool() && !row.value("autofollowlabel").toBool());

        const auto entries = testkit::journalEntries();
        QCOMPARE(entries.size(), journal + 1);
        QCOMPARE(entries.last().recno, QStringLiteral("ZZ"));
        QCOMPARE(entries.last().action, 2);
        QCOMPARE(entries.last().fieldname, QString());
    }

    // An add that ends without a successful OK leaves no row anywhere, now
    // or later; a refused ID keeps the dialog open with what was typed.
    void addWithoutOkLeavesNoRow_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message"); // shown on OK; empty when OK is not pressed
        QTest::addColumn<int>("how");         // then: 0 Cancel, 1 Escape, 2 the close box
        QTest::newRow("blank") << "" << "The user ID or who field is blank." << 0;
        QTest::newRow("blanks") << "   " << "The user ID or who field is blank." << 1;
        QTest::newRow("one character") << "q" << "Use at least 2 characters for the user ID." << 2;
        QTest::newRow("taken") << "<first>" << "Try a different WHO value.  The user id is in use by somebody else."
                               << 0;
        QTest::newRow("Cancel") << "new" << "" << 0;
        QTest::newRow("Escape") << "new" << "" << 1;
        QTest::newRow("close box") << "new" << "" << 2;
    }

    void addWithoutOkLeavesNoRow()
    {
        QFETCH(QString, typed);
        QFETCH(QString, message);
        QFETCH(int, how);
        if (typed == "<first>")
            typed = firstWho;
        const QStringList tables = {catalogue::kUserPref, catalogue::kPerm, catalogue::kUserDb, catalogue::kMerge};
        QList<int> before;
        for (const QString& t : tables)
            before << testkit::rowCount(t);
        support::MessageScript script;
        bool ran = false;
        whenModal<TfrmUser>([&](TfrmUser* d) {
            QTest::keyClicks(d->edWho, typed);
            QTest::keyClicks(d->edFullname, "Somebody");
            if (!message.isEmpty()) {
                d->edFullname->setFocus();
                QTest::mouseClick(d->OKBtn, Qt::LeftButton);
                QCOMPARE(script.texts(), QStringList{message});
                QVERIFY(d->isVisible());
                QCOMPARE(d->focusWidget(), d->edWho);
                QCOMPARE(d->edWho->text(), typed.toUpper());
                QCOMPARE(d->edFullname->text(), QStringLiteral("Somebody"));
            }
            if (how == 0)
                QTest::mouseClick(d->CancelBtn, Qt::LeftButton);
            else if (how == 1)
                QTest::keyClick(d->edWho, Qt::Key_Escape);
            else
                d->close();
        }, &ran);
        QTest::mouseClick(main->btAdd, Qt::LeftButton);
        QVERIFY(ran);
        QCOMPARE(script.shown().size(), message.isEmpty() ? 0 : 1);
        QCOMPARE(main->tblUserPref.state(), store::TableState::Browse);
        for (int i = 0; i < tables.size(); ++i)
            QCOMPARE(testkit::rowCount(tables[i]), before[i]);
        // Nothing is saved later either, when the table moves on.
        main->tblUserPref.first();
        QCOMPARE(testkit::rowCount(catalogue::kUserPref), before[0]);
    }

    void modifyChangesTheNameAndJournalsBothFields()
    {
        const QString password = userRow(firstWho).value("password").toString();
        const int journal = testkit::journalEntries().size();
        support::MessageScript script;
        support::HelpRecorder help;
        auto modify = [&](const QString& newName) {
            bool ran = false;
            whenModal<TfrmUser>([&](TfrmUser* d) {
                QVERIFY(d->edWho->isReadOnly());
                QCOMPARE(d->edWho->text(), firstWho);
                QVERIFY(d->lblChange->isVisible());
                QCOMPARE(d->edWho->focusPolicy(), Qt::NoFocus);
                QCOMPARE(d->focusWidget(), d->edFullname);
                QTest::keyClicks(d->edWho, "X");
                QCOMPARE(d->edWho->text(), firstWho);
                QTest::mouseClick(d->HelpBtn, Qt::LeftButton);
                if (!newName.isEmpty()) {
                    d->edFullname->selectAll();
                    QTest::keyClicks(d->edFullname, newName);
                }
                QTest::mouseClick(d->OKBtn, Qt::LeftButton);
            }, &ran);
            QTest::mouseClick(main->btModify, Qt::LeftButton);
            QVERIFY(ran);
        };
        modify("Renamed Person");
        QCOMPARE(userRow(firstWho).value("fullname").toString(), QStringLiteral("Renamed Person"));
        modify(QString()); // nothing changed: journalled all the same
        QVERIFY(script.shown().isEmpty());
        QCOMPARE(help.contexts(), (QList<int>{1100, 1100}));

        const auto entries = testkit::journalEntries().mid(journal);
        QCOMPARE(entries.size(), 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(entries[i].recno, firstWho);
            QCOMPARE(entries[i].action, 0);
            QCOMPARE(entries[i].fieldname, i % 2 == 0 ? QStringLiteral("Fullname") : QStringLiteral("Password"));
            QCOMPARE(entries[i].to, i % 2 == 0 ? QStringLiteral("Renamed Person") : password);
        }
    }

    void passwordIsSavedOnlyWithOk_data()
    {
        QTest::addColumn<bool>("clear");
        QTest::addColumn<bool>("okInUserDialog");
        QTest::addColumn<QString>("expected");
        QTest::newRow("set, then Cancel") << false << false << "<old>";
        QTest::newRow("set, then OK") << false << true << " new pw";
        QTest::newRow("cleared, then OK") << true << true << "";
    }

    void passwordIsSavedOnlyWithOk()
    {
        QFETCH(bool, clear);
        QFETCH(bool, okInUserDialog);
        QFETCH(QString, expected);
        if (expected == "<old>")
            expected = userRow(firstWho).value("password").toString();
        support::MessageScript script;
        whenModal<TfrmUser>([&](TfrmUser* d) {
            whenModal<TfrmPassword>([&](TfrmPassword* p) {
                if (clear) {
                    QTest::mouseClick(p->btClear, Qt::LeftButton);
                    return;
                }
                QTest::keyClicks(p->edPass1, " New PW  ");
                QTest::keyClicks(p->edPass2, " new pw");
                QTest::mouseClick(p->OKBtn, Qt::LeftButton);
            });
            QTest::mouseClick(d->btPassword, Qt::LeftButton);
            QTest::mouseClick(okInUserDialog ? d->OKBtn : d->CancelBtn, Qt::LeftButton);
        });
        QTest::mouseClick(main->btModify, Qt::LeftButton);
        QCOMPARE(userRow(firstWho).value("password").toString(), expected);
    }
};

QTEST_MAIN(TestUserDialog)
#include "tst_userdialog.moc"
