// Saves pictures of the force-off dialog, the who's-on window and the first
// page of the printed who's-on list into <build>/screenshots.

#include "login/Whoson.h"
#include "login/force.h"
#include "support/Messages.h"
#include "testkit/Screenshots.h"
#include "testkit/TestInstall.h"
#include "testkit/WorkstationProcess.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QTableWidget>
#include <QtTest>

class TestLoginScreenshots : public QObject {
    Q_OBJECT

private slots:
    void windows()
    {
        TestInstall install;
        QVERIFY(install.ok());
        testkit::WorkstationProcess station(install);
        QVERIFY(station.logIn({"MKL", "WS-MKL", "SALES"}));
        support::MessageScript script;

        TfrmForce force;
        force.show();
        QVERIFY(QTest::qWaitForWindowExposed(&force));
        force.cbUsers->setCurrentIndex(0);
        force.Edit1->setText("Moving the server; back at 2 pm");
        testkit::saveScreenshot(&force, "force-off-dialog.png");

        TfrmWhosOn whosOn;
        whosOn.show();
        QVERIFY(QTest::qWaitForWindowExposed(&whosOn));
        QVERIFY(whosOn.grid->rowCount() >= 3);
        testkit::saveScreenshot(&whosOn, "whos-on-window.png");

        const QString folder = testkit::screenshotFolder();
        QVERIFY(!folder.isEmpty());
        const QString pdf = QDir(folder).filePath("whos-on-printed.pdf");
        QFile::remove(pdf);
        whosOn.choosePrinter = [&](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return true;
        };
        whosOn.Print1->trigger();
        QVERIFY(QFileInfo(pdf).size() > 1000);

        // The first page as a picture (poppler-utils' pdftoppm).
        const QString page = QDir(folder).filePath("whos-on-printed");
        QProcess render;
        render.start("pdftoppm", {"-png", "-r", "60", "-f", "1", "-l", "1", "-singlefile", pdf, page});
        QVERIFY2(render.waitForFinished(20000) && render.exitCode() == 0, "pdftoppm (poppler-utils) is needed");
        QVERIFY(QFileInfo(page + ".png").size() > 1000);
        QVERIFY(script.shown().isEmpty());
    }
};

QTEST_MAIN(TestLoginScreenshots)
#include "tst_login_screenshots.moc"
