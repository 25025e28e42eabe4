// The password dialog: what can be typed, the checks of OK, Clear and Help.

#include "accounts/Passwd.h"
#include "support/Help.h"
#include "support/Messages.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using support::BoxKind;

class TestPasswordDialog : public QObject {
    Q_OBJECT

private:
    // Types into both boxes and presses OK.
    static void typeAndOk(TfrmPassword& dialog, const QString& first, const QString& second)
    {
        QTest::keyClicks(dialog.edPass1, first);
        QTest::keyClicks(dialog.edPass2, second);
        QTest::mouseClick(dialog.OKBtn, Qt::LeftButton);
    }

private slots:
    void typedTextIsLowerCaseAndLimited()
    {
        TfrmPassword dialog;
        dialog.show();
        QCOMPARE(dialog.edPass1->echoMode(), QLineEdit::Password);
        QVERIFY(dialog.edPass1->text().isEmpty() && dialog.edPass2->text().isEmpty());
        QTest::keyClicks(dialog.edPass1, QStringLiteral("SeCreT"));
        QCOMPARE(dialog.edPass1->text(), QStringLiteral("secret"));
        dialog.edPass2->clear();
        QTest::keyClicks(dialog.edPass2, QStringLiteral("abcdefghijklmnopq"));
        QCOMPARE(dialog.edPass2->text(), QStringLiteral("abcdefghijklmno")); // no 16th character
    }

    // A refusal names the box to correct, keeps the dialog open and clears
    // the confirmation unless the first box was the fault.
    void okChecksThePasswords_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("expected"); // the stored password, or the error shown
        QTest::addColumn<int>("focusBox");   // 0 when accepted
        QTest::addColumn<QString>("secondAfter");
        QTest::newRow("same word") << "tiger" << "tiger" << "tiger" << 0 << "";
        QTest::newRow("capitals match small letters") << "Tiger" << "tIGER" << "tiger" << 0 << "";
        QTest::newRow("trailing blanks go, leading stay") << "  pw  " << "  pw" << "  pw" << 0 << "";
        QTest::newRow("nothing typed") << "" << "" << "You did not type in a password.  Press CANCEL to abort." << 1 << "";
        QTest::newRow("blanks only") << "   " << "abc" << "You did not type in a password.  Press CANCEL to abort." << 1 << "abc";
        QTest::newRow("no confirmation") << "abc" << "  " << "Confirm by repeating the password." << 2 << "";
        QTest::newRow("mismatch") << "abc" << "abd" << "The passwords do not match.  Try again." << 2 << "";
    }

    void okChecksThePasswords()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, expected);
        QFETCH(int, focusBox);
        QFETCH(QString, secondAfter);
        support::MessageScript script;
        TfrmPassword dialog;
        dialog.show();
        typeAndOk(dialog, first, second);
        if (focusBox == 0) {
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(dialog.NewPassword, expected);
            QVERIFY(script.shown().isEmpty());
            return;
        }
        QCOMPARE(script.texts(), QStringList{expected});
        QCOMPARE(script.shown().first().kind, BoxKind::Error);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), 0);
        QCOMPARE(dialog.NewPassword, QString());
        QCOMPARE(dialog.edPass2->text(), secondAfter);
        QCOMPARE(dialog.focusWidget(), focusBox == 1 ? dialog.edPass1 : dialog.edPass2);
    }

    void clearAcceptsWithAnEmptyPassword()
    {
        support::MessageScript script;
        TfrmPassword dialog;
        dialog.show();
        QTest::keyClicks(dialog.edPass1, QStringLiteral("ignored"));
        QTest::mouseClick(dialog.btClear, Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.NewPassword, QString());
        QCOMPARE(script.shown().size(), 1);
        QCOMPARE(script.shown().first().kind, BoxKind::Information);
        QCOMPARE(script.shown().first().text, QStringLiteral("Password cleared"));
    }

    void cancelAndHelp()
    {
        support::HelpRecorder help;
        TfrmPassword dialog;
        dialog.show();
        QTest::mouseClick(dialog.HelpBtn, Qt::LeftButton);
        QCOMPARE(help.contexts(), QList<int>{1500});
        QTest::keyClicks(dialog.edPass1, QStringLiteral("abc"));
        QTest::keyClicks(dialog.edPass2, QStringLiteral("abc"));
        QTest::mouseClick(dialog.CancelBtn, Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(!dialog.isVisible());
    }
};

QTEST_MAIN(TestPasswordDialog)
#include "tst_passworddialog.moc"
