// The help window and the help file, and the application-wide error box.

#include "store/StoreError.h"
#include "support/ErrorBox.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "ui/DialogTestKit.h"

#include <QDialog>
#include <QFile>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

namespace {

const QList<int> kContexts = {1000, 1100, 1200, 1250, 1300, 1400, 1410, 1420, 1500, 1600, 1800};

class Thrower : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User)
            throw store::StoreError(QStringLiteral("Table USERPREF.DB: the disk is full."));
        return QObject::event(e);
    }
};

} // namespace

class TestHelp : public QObject {
    Q_OBJECT

    QString shippedFile() const { return QFINDTESTDATA("../../docs/Brisel.html"); }

private slots:
    void theHelpFileHasEveryContext()
    {
        QFile f(shippedFile());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(f.readAll());
        for (int context : kContexts)
            QVERIFY2(html.contains(QStringLiteral("name=\"%1\"").arg(context)), qPrintable(QString::number(context)));
    }

    void opensAtTheContext()
    {
        support::setHelpFile(shippedFile());
        support::MessageScript script;
        support::openHelp(1100);
        QTextBrowser* browser = support::helpBrowser();
        QVERIFY(browser);
        QCOMPARE(browser->source().fragment(), QStringLiteral("1100"));
        QVERIFY(browser->toPlainText().contains(QStringLiteral("Adding or changing a user")));
        // Opening another context reuses the window.
        support::openHelp(1500);
        QCOMPARE(support::helpBrowser(), browser);
        QCOMPARE(browser->source().fragment(), QStringLiteral("1500"));
        QVERIFY(script.shown().isEmpty());
        browser->window()->close();
    }

    void aModalDialogDoesNotBlockTheHelpWindow()
    {
        support::setHelpFile(shippedFile());
        QDialog dialog;
        QWidget* owner = nullptr;
        testkit::whenModal<QDialog>([&](QDialog* d) {
            support::openHelp(1000);
            owner = support::helpBrowser()->window()->parentWidget();
            d->accept();
        });
        dialog.exec();
        QCOMPARE(owner, &dialog);
    }

    void aMissingHelpFileIsReported()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath("Brisel.HLP");
        support::setHelpFile(missing);
        support::MessageScript script;
        support::openHelp(1000);
        QCOMPARE(script.shown().size(), 1);
        QCOMPARE(script.shown().first().kind, support::BoxKind::Error);
        QVERIFY(script.shown().first().text.contains(missing));
    }

    void uncaughtErrorsReachTheErrorBox()
    {
        support::MessageScript script;
        QVERIFY(!support::guarded([] { throw store::StoreError(QStringLiteral("Table PERM.DB is locked.")); }));
        Thrower thrower;
        QEvent event(QEvent::User);
        QCoreApplication::sendEvent(&thrower, &event); // the program goes on
        QCOMPARE(script.texts(), (QStringList{"Table PERM.DB is locked.", "Table USERPREF.DB: the disk is full."}));
    }
};

int main(int argc, char** argv)
{
    support::Application app(argc, argv);
    TestHelp test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_help.moc"
