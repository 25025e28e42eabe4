// Saves pictures of the main window, the user and password dialogs and the
// copy-settings and replace dialogs into
// <build>/screenshots, so that a reviewer can look at them without a display.

#include "accounts/Passwd.h"
#include "accounts/Replace.h"
#include "accounts/Settings.h"
#include "accounts/User.h"
#include "shell/Main.h"
#include "support/Messages.h"
#include "testkit/Screenshots.h"
#include "testkit/TestInstall.h"
#include "ui/DbEdit.h"
#include "ui/DialogTestKit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

class TestScreenshots : public QObject {
    Q_OBJECT

private slots:
    void windows()
    {
        demo::Options options = TestInstall::smallOptions();
        options.users = 8;
        TestInstall install(options);
        QVERIFY(install.ok());
        support::MessageScript script;
        TfrmMain main;
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        testkit::saveScreenshot(&main, "main-window.png");

        testkit::whenModal<TfrmUser>([&](TfrmUser* d) {
            QTest::keyClicks(d->edWho, "new");
            QTest::keyClicks(d->edFullname, "New Person");
            QTest::qWait(20);
            testkit::saveScreenshot(d, "user-dialog-add.png");
            testkit::saveScreenshot(&main, "main-window-adding.png");
            testkit::whenModal<TfrmPassword>([&](TfrmPassword* p) {
                QTest::keyClicks(p->edPass1, "secret");
                testkit::saveScreenshot(p, "password-dialog.png");
                p->reject();
            });
            QTest::mouseClick(d->btPassword, Qt::LeftButton);
            QTest::mouseClick(d->CancelBtn, Qt::LeftButton);
        });
        QTest::mouseClick(main.btAdd, Qt::LeftButton);

        testkit::whenModal<TfrmUser>([&](TfrmUser* d) {
            QTest::qWait(20);
            testkit::saveScreenshot(d, "user-dialog-modify.png");
            QTest::mouseClick(d->CancelBtn, Qt::LeftButton);
        });
        QTest::mouseClick(main.btModify, Qt::LeftButton);

        testkit::whenModal<TfrmSettings>([&](TfrmSettings* d) {
            d->cbTo->setCurrentIndex(1);
            d->cbPhone->setChecked(true);
            d->cbPermissions->setChecked(true);
            QTest::qWait(20);
            testkit::saveScreenshot(d, "copy-settings-dialog.png");
            d->reject();
        });
        QTest::mouseClick(main.btCopy, Qt::LeftButton);

        testkit::whenModal<TfrmReplace>([&](TfrmReplace* d) {
            QTest::keyClicks(d->edWho, "jds");
            d->cbTarget->setCurrentIndex(2);
            d->cbContacts->click();
            d->cbEventsNotDone->click();
            d->lblStatus->setText("Working : CONTACT.DB 25"); // as it reads while a replace runs
            QTest::qWait(20);
            testkit::saveScreenshot(d, "replace-dialog.png");
            d->reject();
        });
        QTest::mouseClick(main.btReplace, Qt::LeftButton);
        QVERIFY(script.shown().isEmpty());
    }
};

QTEST_MAIN(TestScreenshots)
#include "tst_screenshots.moc"
