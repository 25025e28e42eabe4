#include "support/Messages.h"

#include <QMessageBox>
#include <QtTest>

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
};

QTEST_MAIN(MessagesTest)
#include "tst_messages.moc"
