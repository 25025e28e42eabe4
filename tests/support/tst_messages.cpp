#include "store/StoreError.h"
#include "support/Messages.h"
#include "ui/DialogTestKit.h"

#include <QMessageBox>
#include <QtTest>

#include <stdexcept>

using namespace support;

class MessagesTest : public QObject {
    Q_OBJECT
private slots:
    void recordsBoxesAndBeeps()
    {
        MessageScript script;
        QCOMPARE(showError(QStringLiteral("Bad  thing")), int(QMessageBox::Ok));
        showWarning(QStringLiteral("Careful"));
        showInfo(QStringLiteral("Done"));
        script.answerYes();
        QVERIFY(confirm(QStringLiteral("Sure?"), BoxKind::Information));
        const QList<ShownBox> boxes = script.shown();
        QCOMPARE(boxes.size(), 4);
        QCOMPARE(boxes[0].kind, BoxKind::Error);
        QCOMPARE(boxes[1].kind, BoxKind::Warning);
        QCOMPARE(boxes[2].kind, BoxKind::Information);
        QCOMPARE(boxes[3].kind, BoxKind::Question); // whatever its icon
        QCOMPARE(script.texts(), QStringList({"Bad  thing", "Careful", "Done", "Sure?"}));
        QCOMPARE(script.beeps(), 2); // error and warning only
    }

    void answersInOrderThenNo()
    {
        MessageScript outer;
        outer.answerYes();
        outer.answerNo();
        QString asked;
        outer.answerWith([&](const QString& text) { asked = text; return true; });
        QVERIFY(confirm(QStringLiteral("one")));
        {
            MessageScript inner; // the innermost script answers and records
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("no answer queued")));
            QVERIFY(!confirm(QStringLiteral("unanswered")));
            QCOMPARE(inner.texts(), QStringList{QStringLiteral("unanswered")});
        }
        QVERIFY(!confirm(QStringLiteral("two")));
        QVERIFY(confirm(QStringLiteral("three")));
        QCOMPARE(asked, QStringLiteral("three"));
        QCOMPARE(outer.texts(), QStringList({"one", "two", "three"}));
    }

    void storeReasonIsTheDetail()
    {
        const store::StoreError locked(QStringLiteral("Table CONTACT.DB cannot be opened: another program holds it."));
        {
            MessageScript script;
            showError(QStringLiteral("Could not open the userpref database."), locked);
            showError(QStringLiteral("Plain"), std::runtime_error("disk full"));
            showError(QStringLiteral("No detail"));
            QCOMPARE(script.texts(), QStringList({"Could not open the userpref database.", "Plain", "No detail"}));
            QCOMPARE(script.details(), QStringList({locked.message(), "disk full", ""}));
            QCOMPARE(script.beeps(), 3);
        }
        // The real box: the message as its text, the reason as its details.
        QString text, details;
        testkit::whenModal<QMessageBox>([&](QMessageBox* box) {
            text = box->text();
            details = box->detailedText();
            box->accept();
        });
        showError(QStringLiteral("Could not open the userpref database."), locked);
        QCOMPARE(text, QStringLiteral("Could not open the userpref database."));
        QCOMPARE(details, locked.message());
    }

    // A command-line program: every box goes to the console sink, questions
    // get the console's answer, and a test's script still comes first.
    void consoleTakesTheBoxes()
    {
        QStringList told;
        ConsoleMessages console(
            [&](BoxKind kind, const QString& text, const QString& detail) {
                told << QStringLiteral("%1:%2:%3").arg(int(kind)).arg(text, detail);
            },
            true);
        showError(QStringLiteral("Bad"), std::runtime_error("why"));
        showWarning(QStringLiteral("Careful"));
        showInfo(QStringLiteral("Done"));
        QVERIFY(confirm(QStringLiteral("Sure?")));
        QCOMPARE(told, QStringList({"0:Bad:why", "1:Careful:", "2:Done:", "3:Sure?:"}));
        {
            MessageScript script;
            showError(QStringLiteral("Scripted"));
            QCOMPARE(script.texts(), QStringList{QStringLiteral("Scripted")});
            QCOMPARE(script.beeps(), 1);
        }
        QCOMPARE(told.size(), 4);
    }
};

QTEST_MAIN(MessagesTest)
#include "tst_messages.moc"
