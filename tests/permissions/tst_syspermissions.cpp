// The system permissions dialog driven offscreen on a demo installation:
// the flags of the user shown, saves (and their journal rows) when moving in
// the grid, set and clear all, the copy to every user with a second program
// on USERPREF.DB, the supervisor warning; the flags are read back from the
// file and the journal from merge.db. Also saves pictures of the system
// dialog and the browser into <build>/screenshots.

#include "permissions/Browse.h"
#include "permissions/PermTexts.h"
#include "permissions/permSel.h"
#include "permissions/permSys.h"
#include "store/Catalogue.h"
#include "store/Session.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Clock.h"
#include "support/Messages.h"
#include "testkit/OtherProgram.h"
#include "testkit/Screenshots.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"
#include "ui/DbCheckBox.h"
#include "ui/DbCheckList.h"
#include "ui/DbGrid.h"
#include "ui/DialogTestKit.h"
#include "ui/ProgressWindow.h"

#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionViewItem>
#include <QtTest>

class TestSysPermissions : public QObject {
    Q_OBJECT

    std::unique_ptr<JournalledInstall> install;
    QStringList users;
    QStringList sysFields;
    int userCode = 0;

    QString file() const { return QDir(install->dataDir()).filePath("userpref.db"); }
    // One stored value of a user row, straight from the file ("" for NULL).
    QString stored(const QString& who, const QString& field)
    {
        testkit::RawDb raw(file());
        return raw.text(QStringLiteral("SELECT \"%1\" FROM userpref WHERE Who = '%2'").arg(field, who));
    }
    // The 49 stored system flags of a user as a string of 0, 1 and - (NULL).
    QString flags(const QString& who)
    {
        testkit::RawDb raw(file());
        QStringList cols;
        for (const QString& f : sysFields)
            cols << QStringLiteral("coalesce(\"%1\", '-')").arg(f);
        return raw.text(QStringLiteral("SELECT %1 FROM userpref WHERE Who = '%2'").arg(cols.join(" || "), who));
    }
    void setStored(const QString& who, const QString& field, const QString& sqlValue)
    {
        testkit::RawDb raw(file());
        QVERIFY(raw.exec(QStringLiteral("UPDATE userpref SET \"%1\" = %2 WHERE Who = '%3'").arg(field, sqlValue, who)));
    }
    static QString listFlags(const ui::DbCheckList& list)
    {
        QString s;
        for (bool on : list.checks())
            s += on ? '1' : '0';
        return s;
    }
    QString entry(const QString& who) const { return QStringLiteral("%1/6/%2").arg(userCode).arg(who); }
    // Opens the dialog on a user, modally, and runs action inside it.
    static void runDialog(const QString& who, std::function<void(TfrmSysPerm*)> action)
    {
        bool ran = false;
        testkit::whenModal<TfrmSysPerm>(std::move(action), &ran);
        TfrmSysPerm dialog;
        dialog.userId = who;
        dialog.exec();
        QVERIFY(ran);
    }
    static void clickLine(ui::DbGrid* grid, int row)
    {
        const QRect cell = grid->visualRect(grid->model()->index(row, 1));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    }

private slots:
    void init()
    {
        install = std::make_unique<JournalledInstall>();
        QVERIFY(install->ok());
        users = testkit::column(catalogue::kUserPref, catalogue::fWho);
        QVERIFY(users.size() >= 4);
        sysFields = catalogue::systemFlagNames();
        userCode = support::tablecode(catalogue::kUserPref);
    }
    void cleanup()
    {
        store::Session::instance().setBusyTimeout(5000);
        install.reset();
    }

    // Opening on B shows B; ticking and moving to C saves B with its journal
    // row (the fault fixed here: that save used to go unjournalled); Cancel
    // on C keeps B's saved change and drops C's unsaved one.
    void showsOneUserAndJournalsTheSaveOnMoving()
    {
        const QString b = users[1], c = users[2];
        setStored(b, sysFields[5], "NULL");
        const QString bBefore = flags(b), cBefore = flags(c);
        QCOMPARE(bBefore.at(5), QChar('-'));
        const int from = testkit::journalEntries().size();
        runDialog(b, [&](TfrmSysPerm* d) {
            QCOMPARE(d->lblTitle->text(), QStringLiteral("Global System Permissions for : ") + b);
            QCOMPARE(listFlags(*d->lbPerm), QString(bBefore).replace('-', '0'));
            const int set = bBefore.count('1');
            QCOMPARE(d->lblNset->text(), QStringLiteral("%1 set, %2 clear").arg(set).arg(49 - set));
            QVERIFY(d->loadingGuard());

            d->lbPerm->setChecked(0, bBefore.at(0) != '1');
            QCOMPARE(d->lblNset->text(), QStringLiteral("%1 set, %2 clear").arg(d->lbPerm->checkedCount()).arg(49 - d->lbPerm->checkedCount()));
            QCOMPARE(flags(b), bBefore); // not saved yet
            clickLine(d->grid, 2);
            QCOMPARE(d->lblTitle->text(), QStringLiteral("Global System Permissions for : ") + c);
            QCOMPARE(listFlags(*d->lbPerm), QString(cBefore).replace('-', '0'));
            QCOMPARE(testkit::journalLines(from), QStringList{entry(b)});
            d->lbPerm->setChecked(1, cBefore.at(1) != '1');
            QTest::mouseClick(d->CancelBtn, Qt::LeftButton);
        });
        QString expected = QString(bBefore).replace('-', '0');
        expected[0] = bBefore.at(0) == '1' ? '0' : '1';
        QCOMPARE(flags(b), expected); // the blank flag was stored as false with the rest
        QCOMPARE(flags(c), cBefore);
        QCOMPARE(testkit::journalLines(from), QStringList{entry(b)});
    }

    // A click on an item's text ticks nothing but stores the run: a blank
    // flag becomes false, and OK saves it.
    void clickOnACaptionStoresTheRun()
    {
        const QString b = users[1];
        setStored(b, sysFields[5], "NULL");
        const QString before = flags(b);
        runDialog(b, [&](TfrmSysPerm* d) {
            const QRect rect = d->lbPerm->visualItemRect(d->lbPerm->item(0));
            QTest::mouseClick(d->lbPerm->viewport(), Qt::LeftButton, {}, QPoint(rect.right() - 4, rect.center().y()));
            QCOMPARE(listFlags(*d->lbPerm), QString(before).replace('-', '0'));
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        });
        QCOMPARE(flags(b), QString(before).replace('-', '0'));
    }

    // At the dialog's own size every caption of the list shows whole, with
    // no sideways scrolling.
    void everyCaptionShowsWhole()
    {
        runDialog(users[0], [&](TfrmSysPerm* d) {
            QCOMPARE(d->lbPerm->count(), 49);
            const int room = d->lbPerm->viewport()->width();
            QStringList cut;
            for (int i = 0; i < d->lbPerm->count(); ++i) {
                QStyleOptionViewItem option;
                option.initFrom(d->lbPerm);
                const QModelIndex index = d->lbPerm->model()->index(i, 0);
                const int needed = d->lbPerm->itemDelegate()->sizeHint(option, index).width();
                if (needed > room)
                    cut << QStringLiteral("%1 (%2 > %3)").arg(d->lbPerm->item(i)->text()).arg(needed).arg(room);
            }
            QVERIFY2(cut.isEmpty(), qPrintable(cut.join('\n')));
            QCOMPARE(d->lbPerm->horizontalScrollBar()->maximum(), 0);
            d->reject();
        });
    }

    // A tick goes into the row as it is now: another workstation's change
    // to another flag, made after the list was loaded, is kept and shows.
    void aTickKeepsAnotherProgramsChange()
    {
        const QString b = users[1];
        setStored(b, sysFields[4], "1");
        setStored(b, sysFields[9], "1");
        runDialog(b, [&](TfrmSysPerm* d) {
            QVERIFY(d->lbPerm->isChecked(9));
            QVERIFY(testkit::OtherProgram::runSql(
                file(), QStringLiteral("UPDATE userpref SET \"%1\" = FALSE WHERE \"Who\" = '%2';").arg(sysFields[9], b)));
            d->lbPerm->setChecked(4, false);
            QVERIFY(!d->lbPerm->isChecked(9)); // the list shows the newer row
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        });
        QCOMPARE(stored(b, sysFields[4]), QStringLiteral("0"));
        QCOMPARE(stored(b, sysFields[9]), QStringLiteral("0"));
    }

    void setAndClearAllSaveAtOnce()
    {
        const QString b = users[1];
        setStored(b, catalogue::fSuperUser, "1");
        const QString fullName = stored(b, catalogue::fFullName);
        const int from = testkit::journalEntries().size();
        runDialog(b, [&](TfrmSysPerm* d) {
            QTest::mouseClick(d->btClearAct, Qt::LeftButton);
            QCOMPARE(d->lblNset->text(), QStringLiteral("0 set, 49 clear"));
            QCOMPARE(flags(b), QString(49, '0'));
            QTest::mouseClick(d->btSetAct, Qt::LeftButton);
            QCOMPARE(d->lblNset->text(), QStringLiteral("49 set, 0 clear"));
            QCOMPARE(flags(b), QString(49, '1'));
            QTest::mouseClick(d->btClearAct, Qt::LeftButton);
            QVERIFY(QApplication::overrideCursor() == nullptr);
            QTest::mouseClick(d->CancelBtn, Qt::LeftButton);
        });
        QCOMPARE(flags(b), QString(49, '0'));
        QCOMPARE(stored(b, catalogue::fSuperUser), QStringLiteral("1"));
        QCOMPARE(stored(b, catalogue::fFullName), fullName);
        // Three saves of one row in a row: the journal keeps one entry for
        // a repeated change of the same row.
        QCOMPARE(testkit::journalLines(from), QStringList{entry(b)});
    }

    void supervisorWarning()
    {
        const QString b = users[1];
        setStored(b, catalogue::fSuperUser, "0");
        support::MessageScript script;
        runDialog(b, [&](TfrmSysPerm* d) {
            QTest::mouseClick(d->btSetAct, Qt::LeftButton);
            QTest::mouseClick(d->dbYes, Qt::LeftButton);
            QTest::mouseClick(d->OKBtn, Qt::LeftButton); // all true: no warning
        });
        QVERIFY(script.shown().isEmpty());
        QCOMPARE(stored(b, catalogue::fSuperUser), QStringLiteral("1"));
        runDialog(b, [&](TfrmSysPerm* d) {
            d->lbPerm->setChecked(30, false);
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        });
        QCOMPARE(script.shown().size(), 1);
        QCOMPARE(script.shown()[0].kind, support::BoxKind::Warning);
        QCOMPARE(script.shown()[0].text,
                 QStringLiteral("Note that this user in now a Supervisor.\r\rHowever, there are some global system "
                                "permission settings set to FALSE.\r\rThus, the Supervisor setting will override any "
                                "FALSE permissions, allowing this user full access to all functions."));
        QCOMPARE(flags(b).at(30), QChar('0'));
    }

    // No changes nothing; Yes saves the edited row, then writes every user's
    // 49 flags (the shown user's own row included), one journal row each in
    // key order, and leaves SuperUser and the names alone. Another program
    // holding the table open meanwhile does not matter.
    void copyToAllUsers()
    {
        const QString b = users[1];
        QMap<QString, QString> superUser, names;
        for (const QString& u : users) {
            superUser[u] = stored(u, catalogue::fSuperUser);
            names[u] = stored(u, catalogue::fFullName);
        }
        testkit::OtherProgram other(*install);
        QVERIFY(other.hold(catalogue::kUserPref, "shared"));
        support::MessageScript script;
        const QList<QVariantMap> before = testkit::tableRows(catalogue::kUserPref);
        const int from = testkit::journalEntries().size();
        QString source;
        script.answerNo();
        script.answerYes();
        // The copy takes a while: half a second after it began, at the
        // second user, the progress window shows, without Cancel.
        const QDateTime start(QDate(2024, 3, 1), QTime(9, 0));
        support::ClockOverride clock(start);
        int written = 0;
        QString countShown;
        bool cancelOffered = true;
        runDialog(b, [&](TfrmSysPerm* d) {
            QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
            QCOMPARE(testkit::tableRows(catalogue::kUserPref), before);
            d->lbPerm->setChecked(3, !d->lbPerm->isChecked(3));
            source = listFlags(*d->lbPerm);
            d->tblU2->beforePost = [&, d](store::Table&) {
                if (++written == 2)
                    clock.set(start.addMSecs(ui::ProgressWindow::kShowAfterMs));
                auto* progress = d->findChild<ui::ProgressWindow*>();
                if (written == 3 && progress && progress->isVisible()) {
                    countShown = progress->countText();
                    cancelOffered = progress->findChild<QPushButton*>() != nullptr;
                }
            };
            QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
            QCOMPARE(countShown, QString("2 of %1 users").arg(users.size()));
            QVERIFY(!cancelOffered);
            QVERIFY(!d->findChild<ui::ProgressWindow*>());
            QVERIFY(d->loadingGuard());
            QVERIFY(QApplication::overrideCursor() == nullptr);
            QCOMPARE(listFlags(*d->lbPerm), source);
            QTest::mouseClick(d->CancelBtn, Qt::LeftButton);
        });
        QCOMPARE(script.texts(), (QStringList{
                                     QStringLiteral("Apply the permission settings for user \"%1\" to all other users?").arg(b),
                                     QStringLiteral("Apply the permission settings for user \"%1\" to all other users?").arg(b)}));
        QStringList expected{entry(b)};
        for (const QString& u : users) {
            QCOMPARE(flags(u), source);
            QCOMPARE(stored(u, catalogue::fSuperUser), superUser[u]);
            QCOMPARE(stored(u, catalogue::fFullName), names[u]);
            expected << entry(u);
        }
        QCOMPARE(testkit::journalLines(from), expected);
    }

    // Another program holding the write lock: a clear error naming the
    // table, nothing written; once it lets go, the copy works.
    void copyWhileAnotherProgramWrites()
    {
        const QString b = users[1];
        store::Session::instance().setBusyTimeout(300);
        QProcess locker;
        locker.start(QCoreApplication::applicationDirPath() + "/lock_writes", {file()});
        QVERIFY(locker.waitForReadyRead(60000));
        QCOMPARE(locker.readLine().trimmed(), QByteArray("ready"));
        const QList<QVariantMap> before = testkit::tableRows(catalogue::kUserPref);
        const int from = testkit::journalEntries().size();
        support::MessageScript script;
        script.answerYes(2);
        runDialog(b, [&](TfrmSysPerm* d) {
            QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
            QCOMPARE(script.shown().size(), 2);
            QCOMPARE(script.shown()[1].kind, support::BoxKind::Error);
            QVERIFY2(script.shown()[1].text.contains("USERPREF.DB"), qPrintable(script.shown()[1].text));
            QVERIFY(d->loadingGuard());
            QVERIFY(QApplication::overrideCursor() == nullptr);
            QCOMPARE(testkit::tableRows(catalogue::kUserPref), before);
            QCOMPARE(testkit::journalLines(from), QStringList());

            locker.closeWriteChannel();
            QVERIFY(locker.waitForFinished(60000));
            QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
            QCOMPARE(script.shown().size(), 3);
            QTest::mouseClick(d->OKBtn, Qt::LeftButton);
        });
        QCOMPARE(testkit::journalLines(from).size(), users.size());
        for (const QString& u : users)
            QCOMPARE(flags(u), flags(b));
    }

    // A row the file refuses part-way (here a trigger another program put
    // there): the error is shown, the rows before it stay written and
    // journalled, the rows after it are untouched.
    void copyStoppedPartWay()
    {
        const QString b = users[1];
        setStored(users[0], sysFields[0], "0");
        setStored(users[2], sysFields[0], "0");
        setStored(users[3], sysFields[0], "0");
        setStored(b, sysFields[0], "1");
        {
            testkit::RawDb raw(file());
            QVERIFY(raw.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE UPDATE ON userpref WHEN old.Who = '%1' "
                                            "BEGIN SELECT RAISE(ABORT, 'row locked by another program'); END")
                                 .arg(users[2])));
        }
        const QString after2 = flags(users[2]), after3 = flags(users[3]);
        const int from = testkit::journalEntries().size();
        support::MessageScript script;
        script.answerYes();
        runDialog(b, [&](TfrmSysPerm* d) {
            QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
            QCOMPARE(script.shown().size(), 2);
            QVERIFY(script.shown()[1].text.contains("row locked by another program"));
            QVERIFY(d->loadingGuard());
            QTest::mouseClick(d->CancelBtn, Qt::LeftButton);
        });
        QCOMPARE(flags(users[0]), flags(b));
        QCOMPARE(flags(users[2]), after2);
        QCOMPARE(flags(users[3]), after3);
        QCOMPARE(testkit::journalLines(from), (QStringList{entry(users[0]), entry(b)}));
    }

    // The chooser's Global button opens this dialog on the chooser's user
    // (the main window's way to the chooser is tested with the database
    // dialog).
    void fromTheChooserAndScreenshots()
    {
        TfrmSelectPermission chooser;
        chooser.Who = users[1];
        bool ran = false;
        testkit::whenModal<TfrmSelectPermission>([&](TfrmSelectPermission* c) {
            testkit::whenModal<TfrmSysPerm>(
                [&](TfrmSysPerm* d) {
                    QCOMPARE(d->lblTitle->text(), QStringLiteral("Global System Permissions for : ") + users[1]);
                    QTest::qWait(20);
                    testkit::saveScreenshot(d, "system-permissions.png");
                    d->reject();
                },
                &ran);
            QTest::mouseClick(c->btGlobal, Qt::LeftButton);
            c->reject();
        });
        chooser.exec();
        QVERIFY(ran);
        TfrmBrowse browser;
        browser.show();
        QVERIFY(QTest::qWaitForWindowExposed(&browser));
        QTest::qWait(20);
        testkit::saveScreenshot(&browser, "permission-browser.png");
        browser.reject();
    }
};

QTEST_MAIN(TestSysPermissions)
#include "tst_syspermissions.moc"
