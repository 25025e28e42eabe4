// The permission report on a real installation: the report against the
// tables as read without the store (the SQLite files through the C API; on the
// server the store's own field-by-field reading), "who can do this", the CSV
// and JSON writers, printing to PDF and the window.

#include "permissions/PermTexts.h"
#include "permissions/Report.h"
#include "permissions/ReportFormat.h"
#include "permissions/ReportWindow.h"
#include "shell/Main.h"
#include "store/Catalogue.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "testkit/Tables.h"
#include "testkit/TestInstall.h"

#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBrowser>
#include <QtTest>

#include <sqlite3.h>

using namespace permissions;

namespace {

// Every row of a table, each field's stored value by lower-case name: from
// the table file through the SQLite C API, or on the server as the store
// reads it field by field.
QList<QVariantMap> storedRows(const TestInstall& install, const QString& table)
{
    if (TestInstall::onServer())
        return testkit::tableRows(table);
    QList<QVariantMap> rows;
    sqlite3* db = nullptr;
    const QString name = QString(table).remove(QStringLiteral(".DB")).toLower();
    const QByteArray path = QFile::encodeName(QDir(install.dataDir()).filePath(name + QStringLiteral(".db")));
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, qPrintable(QStringLiteral("SELECT * FROM \"%1\"").arg(name)), -1, &st, nullptr)
        == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW) {
            QVariantMap row;
            for (int i = 0; i < sqlite3_column_count(st); ++i) {
                QVariant value;
                if (sqlite3_column_type(st, i) == SQLITE_INTEGER)
                    value = sqlite3_column_int64(st, i);
                else if (sqlite3_column_type(st, i) != SQLITE_NULL)
                    value = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i)));
                row.insert(QString::fromUtf8(sqlite3_column_name(st, i)).toLower(), value);
            }
            rows.append(row);
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
}

QString flagText(const QVariant& stored)
{
    if (!stored.isValid() || stored.isNull())
        return QString();
    return stored.toBool() ? QStringLiteral("true") : QStringLiteral("false");
}

QString flagText(std::optional<bool> value)
{
    return value ? (*value ? QStringLiteral("true") : QStringLiteral("false")) : QString();
}

// Sets fields of the row with that key; an invalid value blanks the field.
void setFields(const QString& tableName, const QVariantList& key, const QVariantMap& values)
{
    store::Table table(catalogue::kAlias, tableName);
    table.open();
    QVERIFY2(table.findKey(key), qPrintable(key.first().toString()));
    table.edit();
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (it.value().isValid())
            table.fieldByName(it.key()).setValue(it.value());
        else
            table.fieldByName(it.key()).clear();
    }
    table.post();
}

// Every boolean of a user row or permission row set to value.
void setAllBooleans(const QString& tableName, const QVariantList& key, bool value)
{
    store::Table table(catalogue::kAlias, tableName);
    table.open();
    QVERIFY(table.findKey(key));
    table.edit();
    for (int i = 0; i < table.fieldCount(); ++i)
        if (table.field(i).dataType() == store::FieldType::Boolean)
            table.field(i).setAsBoolean(value);
    table.post();
}

// A CSV text read back as RFC 4180 says.
QList<QStringList> parseCsv(const QString& csv)
{
    QList<QStringList> lines;
    QStringList cells;
    QString cell;
    bool quoted = false;
    for (int i = 0; i < csv.size(); ++i) {
        const QChar c = csv[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < csv.size() && csv[i + 1] == QLatin1Char('"'))
                cell += c, ++i;
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                cell += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            cells << cell, cell.clear();
        } else if (c == QLatin1Char('\r') && i + 1 < csv.size() && csv[i + 1] == QLatin1Char('\n')) {
            cells << cell, cell.clear();
            lines << cells, cells.clear();
            ++i;
        } else {
            cell += c;
        }
    }
    return lines;
}

QString pdfText(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
    if (!p.waitForFinished(60000))
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

QPrinter* pdfPrinter(QPrinter& printer, const QString& path)
{
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    return &printer;
}

} // namespace

class TestPermReport : public QObject {
    Q_OBJECT

    std::unique_ptr<TestInstall> install;
    QStringList users;     // Who, key order
    QStringList databases; // DB, key order

private slots:
    void init()
    {
        install = std::make_unique<TestInstall>();
        QVERIFY(install->ok());
        users = testkit::column(catalogue::kUserPref, catalogue::fWho);
        databases = testkit::column(catalogue::kDatabase, catalogue::fDb);
        QCOMPARE(users.size(), 4);
        QCOMPARE(databases.size(), 2);
    }
    void cleanup() { install.reset(); }

    // Every user x database x permission and every system flag, against the
    // stored rows: the installer's mix, a blank flag, a pair without a row
    // (the installer leaves the last user without any) and a name that needs
    // quoting.
    void fullReportMatchesTables()
    {
        setFields(catalogue::kPerm, {databases[0], users[1]},
                  {{QStringLiteral("NAdd"), QVariant()}, {QStringLiteral("actExport"), false}});
        setFields(catalogue::kUserPref, {users[2]},
                  {{catalogue::fFullName, QStringLiteral("Lee, \"Al\"\nX")}, {QStringLiteral("sysHoliday"), QVariant()}});

        const QVector<ReportRow> rows = fullReport();
        const int perPair = 1 + 32 + 13 + 27;
        QCOMPARE(rows.size(), users.size() * (databases.size() * perPair + 49 + 1));

        QHash<QString, QString> reported; // "who|db|field" (field lower case) -> value
        for (const ReportRow& r : rows) {
            const QString key = r.who + QLatin1Char('|') + r.db + QLatin1Char('|') + r.field.toLower();
            QVERIFY2(!reported.contains(key), qPrintable(key));
            reported.insert(key, flagText(r.value));
            QVERIFY2(!r.caption.isEmpty(), qPrintable(r.field));
        }
        int compared = 0;
        QSet<QString> pairsWithRow;
        for (const QVariantMap& row : storedRows(*install, catalogue::kPerm)) {
            const QString who = row.value(QStringLiteral("who")).toString();
            const QString db = row.value(QStringLiteral("db")).toString();
            pairsWithRow << who + QLatin1Char('|') + db;
            for (auto it = row.cbegin(); it != row.cend(); ++it) {
                const QString key = who + QLatin1Char('|') + db + QLatin1Char('|') + it.key();
                if (it.key() == QLatin1String("db") || it.key() == QLatin1String("who")
                    || it.key() == QLatin1String("syncwellno"))
                    continue;
                QVERIFY2(reported.contains(key), qPrintable(key));
                QCOMPARE(reported.value(key), flagText(it.value()));
                ++compared;
            }
        }
        QCOMPARE(compared, pairsWithRow.size() * perPair);
        // The pairs without a row report no value at all.
        QVERIFY(!pairsWithRow.contains(users[3] + QLatin1Char('|') + databases[0]));
        QCOMPARE(reported.value(users[3] + QLatin1Char('|') + databases[0] + QStringLiteral("|access")), QString());
        QCOMPARE(reported.value(users[1] + QLatin1Char('|') + databases[0] + QStringLiteral("|nadd")), QString());

        for (const QVariantMap& row : storedRows(*install, catalogue::kUserPref)) {
            const QString who = row.value(QStringLiteral("who")).toString();
            for (auto it = row.cbegin(); it != row.cend(); ++it) {
                if (!it.key().startsWith(QLatin1String("sys")) && it.key() != QLatin1String("superuser"))
                    continue;
                const QString key = who + QStringLiteral("||") + it.key();
                QVERIFY2(reported.contains(key), qPrintable(key));
                QCOMPARE(reported.value(key), it.key() == QLatin1String("superuser") ? flagText(std::optional<bool>(it.value().toBool()))
                                                                                     : flagText(it.value()));
            }
        }
        // The name is carried as stored, into every row of its user.
        for (const ReportRow& r : rows)
            if (r.who == users[2])
                QCOMPARE(r.fullName, QStringLiteral("Lee, \"Al\"\nX"));
    }

    // One user's report: databases with access in detail, the others named;
    // the grid, the tabs and the actions as the dialog captions them.
    void userReportOfOneUser()
    {
        const QString who = users[1];
        setAllBooleans(catalogue::kPerm, {databases[0], who}, true);
        setFields(catalogue::kPerm, {databases[0], who},
                  {{QStringLiteral("PChange"), false},
                   {QStringLiteral("EmailTab"), QVariant()},
                   {QStringLiteral("actExport"), false}});
        setFields(catalogue::kPerm, {databases[1], who}, {{QStringLiteral("Access"), false}});

        const UserReport report = userReport(who);
        QCOMPARE(report.who, who);
        QCOMPARE(report.databases.size(), 1);
        QCOMPARE(report.noAccess, QStringList{databases[1]});
        QVERIFY(report.noRow.isEmpty());
        const DatabaseGrant& grant = report.databases.first();
        QCOMPARE(grant.db, databases[0]);
        QCOMPARE(grant.kinds.size(), 8);
        QCOMPARE(grant.kinds[2].caption, QStringLiteral("Phone calls"));
        QVERIFY(grant.kinds[2].view && grant.kinds[2].add && !grant.kinds[2].change && grant.kinds[2].remove);
        QCOMPARE(grant.tabs.size(), 13);
        QCOMPARE(grant.actions.size(), 27);
        QStringList hiddenTabs, deniedActions;
        for (const Flag& f : grant.tabs)
            if (!f.value)
                hiddenTabs << f.caption;
        for (const Flag& f : grant.actions)
            if (!f.value)
                deniedActions << f.caption;
        QCOMPARE(hiddenTabs, QStringList{QStringLiteral("E-mail Tab")}); // blank reads as not granted
        QCOMPARE(deniedActions, QStringList{QStringLiteral("Export data")});
        QCOMPARE(report.systemFlags.size(), 49);
        QCOMPARE(report.systemFlags.first().caption, systemCaptions().first());

        // One database only; the last user, without rows, names them.
        QCOMPARE(userReport(who, databases[1]).noAccess, QStringList{databases[1]});
        QVERIFY(userReport(who, databases[1]).databases.isEmpty());
        QCOMPARE(userReport(users[3]).noRow, databases);

        // Its rows, as saved from the window: every permission where there is
        // access, Access alone elsewhere, then the system and supervisor flags.
        const QVector<ReportRow> rows = userReportRows(report);
        QCOMPARE(rows.size(), 73 + 1 + 49 + 1);
        QCOMPARE(rows.last().field, catalogue::fSuperUser);
    }

    // The supervisor warning: only for a supervisor, and only when something
    // shown is false.
    void supervisorWarning()
    {
        const QString who = users[1];
        for (const QString& db : databases)
            setAllBooleans(catalogue::kPerm, {db, who}, true);
        setAllBooleans(catalogue::kUserPref, {who}, true);
        QVERIFY(!userReport(who).supervisorWarning);

        setFields(catalogue::kUserPref, {who}, {{QStringLiteral("sysSetupWP"), false}});
        QVERIFY(userReport(who).supervisorWarning);
        const QString html = userReportHtml(userReport(who));
        for (const QString& sentence : databaseSupervisorWarning().split(QStringLiteral("\r\r")))
            QVERIFY2(html.contains(sentence.toHtmlEscaped()), qPrintable(sentence));
        QVERIFY(databaseSupervisorWarning().contains(QStringLiteral("FALSE.\r\rThe Supervisor")));

        setFields(catalogue::kUserPref, {who}, {{QStringLiteral("sysSetupWP"), true}});
        setFields(catalogue::kPerm, {databases[1], who}, {{QStringLiteral("Access"), false}});
        QVERIFY(userReport(who).supervisorWarning);

        setFields(catalogue::kUserPref, {who}, {{catalogue::fSuperUser, false}});
        QVERIFY(!userReport(who).supervisorWarning);
        QVERIFY(!userReportHtml(userReport(who)).contains(QStringLiteral("Supervisor setting")));
        // Missing rows are made granting everything: no false permission.
        setAllBooleans(catalogue::kUserPref, {users[3]}, true);
        QCOMPARE(userReport(users[3]).noRow, databases);
        QVERIFY(!userReport(users[3]).supervisorWarning);
    }

    // Who may use one permission: access and the flag both, or the supervisor
    // flag; the field named in any case.
    void whoCanDoThis()
    {
        const QString db = databases[0];
        for (const QString& who : users.mid(0, 3)) {
            setAllBooleans(catalogue::kPerm, {db, who}, true);
            setFields(catalogue::kUserPref, {who}, {{catalogue::fSuperUser, false}});
        }
        setFields(catalogue::kPerm, {db, users[0]}, {{QStringLiteral("CAdd"), false}});
        setFields(catalogue::kPerm, {db, users[1]}, {{QStringLiteral("Access"), false}});
        setFields(catalogue::kUserPref, {users[3]}, {{catalogue::fSuperUser, false}});
        // The user without a row is not allowed yet, and said apart.
        QCOMPARE(whoCan(db, QStringLiteral("CAdd")).users.size(), 1);
        QCOMPARE(whoCan(db, QStringLiteral("CAdd")).noRow.size(), 1);
        QCOMPARE(whoCan(db, QStringLiteral("CAdd")).noRow.first().who, users[3]);
        QVERIFY(whoCanHtml(whoCan(db, QStringLiteral("CAdd"))).contains(QStringLiteral("No permission row")));
        QCOMPARE(parseCsv(whoCanCsv(whoCan(db, QStringLiteral("CAdd")), CsvStyle::Exact)).last().last(),
                 QStringLiteral("no permission row"));
        setFields(catalogue::kUserPref, {users[3]}, {{catalogue::fSuperUser, true}}); // no row, supervisor

        WhoCan result = whoCan(db, QStringLiteral("cADD"));
        QCOMPARE(result.field, QStringLiteral("CAdd"));
        QCOMPARE(result.section, sectionData());
        QCOMPARE(result.caption, QStringLiteral("Contacts: Add"));
        QCOMPARE(result.users.size(), 2);
        QCOMPARE(result.users[0].who, users[2]);
        QVERIFY(result.users[0].byPermission);
        QCOMPARE(result.users[1].who, users[3]);
        QVERIFY(!result.users[1].byPermission);
        QVERIFY(result.users[1].superUser);
        QVERIFY(result.noRow.isEmpty());

        // A supervisor whose own row denies it is told apart.
        setFields(catalogue::kUserPref, {users[0]}, {{catalogue::fSuperUser, true}});
        result = whoCan(db, QStringLiteral("CAdd"));
        QCOMPARE(result.users.size(), 3);
        QCOMPARE(result.users[0].who, users[0]);
        QVERIFY(!result.users[0].byPermission);

        result = whoCan(db, QStringLiteral("actsetupscreen"));
        QCOMPARE(result.section, sectionActions());
        QCOMPARE(result.caption, actionCaptions().last());
        QVERIFY(whoCanHtml(result).contains(users[2]));
        const QList<QStringList> csv = parseCsv(whoCanCsv(result, CsvStyle::Exact));
        QCOMPARE(csv.first(), (QStringList{"Who", "FullName", "Supervisor", "Allowed by"}));
        QCOMPARE(csv.size(), 1 + result.users.size() + result.noRow.size());

        QCOMPARE(permissionFields().size(), 73);
    }

    void badInput()
    {
        auto errorOf = [](const std::function<void()>& f) {
            try {
                f();
            } catch (const ReportError& e) {
                return e.message();
            }
            return QString();
        };
        QCOMPARE(errorOf([] { userReport(QStringLiteral("ZZZ")); }),
                 QStringLiteral("There is no user with the ID \"ZZZ\"."));
        // IDs are exact: the same letters in another case are another user.
        QVERIFY(!errorOf([&] { userReport(users[0].toLower()); }).isEmpty());
        QCOMPARE(errorOf([&] { userReport(users[0], QStringLiteral("NODB")); }),
                 QStringLiteral("There is no database \"NODB\"."));
        QCOMPARE(errorOf([] { whoCan(QStringLiteral("NODB"), QStringLiteral("CAdd")); }),
                 QStringLiteral("There is no database \"NODB\"."));
        for (const QString& field : {QStringLiteral("Nosuch"), QStringLiteral("Who"), QStringLiteral("syncwellno"),
                                     QStringLiteral("sysBroadcast"), QString()})
            QVERIFY2(errorOf([&] { whoCan(databases[0], field); }).contains(QStringLiteral("is no permission")),
                     qPrintable(field));
    }

    // Quoting as RFC 4180 says, the formula prefixes neutralised only for
    // spreadsheets, and the JSON's values.
    void csvAndJson()
    {
        const QString odd = QStringLiteral("Lee, \"Al\"\r\nX");
        setFields(catalogue::kUserPref, {users[0]}, {{catalogue::fFullName, odd}});
        setFields(catalogue::kUserPref, {users[1]}, {{catalogue::fFullName, QStringLiteral("=HYPERLINK(1)")}});
        setFields(catalogue::kPerm, {databases[0], users[2]}, {{QStringLiteral("TAdd"), QVariant()}});

        const QVector<ReportRow> rows = fullReport();
        const QString exact = rowsCsv(rows, CsvStyle::Exact);
        const QList<QStringList> lines = parseCsv(exact);
        QCOMPARE(lines.size(), rows.size() + 1);
        QCOMPARE(lines.first(),
                 (QStringList{"Who", "FullName", "Supervisor", "Database", "Section", "Field", "Caption", "Allowed"}));
        for (int i = 0; i < rows.size(); ++i) {
            QCOMPARE(lines[i + 1].size(), 8);
            QCOMPARE(lines[i + 1][1], rows[i].fullName);
            QCOMPARE(lines[i + 1][6], rows[i].caption); // trailing blanks kept
            QCOMPARE(lines[i + 1][7], flagText(rows[i].value));
        }
        QVERIFY(exact.contains(QStringLiteral(",=HYPERLINK(1),")));

        QCOMPARE(csvCell(QStringLiteral("=1+2"), CsvStyle::Spreadsheet), QStringLiteral("'=1+2"));
        QCOMPARE(csvCell(QStringLiteral("@SUM"), CsvStyle::Spreadsheet), QStringLiteral("'@SUM"));
        QCOMPARE(csvCell(QStringLiteral("-2,3"), CsvStyle::Spreadsheet), QStringLiteral("\"'-2,3\""));
        QCOMPARE(csvCell(QStringLiteral("+A"), CsvStyle::Exact), QStringLiteral("+A"));
        QCOMPARE(csvCell(QStringLiteral("A=B"), CsvStyle::Spreadsheet), QStringLiteral("A=B"));
        QCOMPARE(csvCell(QStringLiteral("say \"hi\""), CsvStyle::Exact), QStringLiteral("\"say \"\"hi\"\"\""));
        QCOMPARE(csvCell(QString(), CsvStyle::Spreadsheet), QString());
        const QList<QStringList> safe = parseCsv(rowsCsv(rows, CsvStyle::Spreadsheet));
        QCOMPARE(safe.size(), lines.size());
        for (const QStringList& line : safe)
            QVERIFY(line[1] != QStringLiteral("=HYPERLINK(1)"));

        QJsonParseError error;
        const QJsonDocument json = QJsonDocument::fromJson(rowsJson(rows), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QJsonArray array = json.object().value(QStringLiteral("rows")).toArray();
        QCOMPARE(array.size(), rows.size());
        int nulls = 0;
        for (int i = 0; i < rows.size(); ++i) {
            const QJsonObject o = array[i].toObject();
            QCOMPARE(o.value(QStringLiteral("fullName")).toString(), rows[i].fullName);
            QCOMPARE(o.value(QStringLiteral("field")).toString(), rows[i].field);
            QCOMPARE(o.value(QStringLiteral("database")).isNull(), rows[i].db.isEmpty());
            if (rows[i].value)
                QCOMPARE(o.value(QStringLiteral("allowed")).toBool(), *rows[i].value);
            else
                nulls += o.value(QStringLiteral("allowed")).isNull() ? 1 : 1000;
        }
        QCOMPARE(nulls, 1 + databases.size() * 73); // the blank flag and the last user's missing rows
    }

    // The printable document on a PDF file, read back as text.
    void printsToPdf()
    {
        setFields(catalogue::kUserPref, {users[0]}, {{catalogue::fFullName, QStringLiteral("Anna <b>&amp;")}});
        setFields(catalogue::kPerm, {databases[0], users[0]}, {{QStringLiteral("actExport"), false}});
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("report.pdf"));
        QPrinter printer(QPrinter::HighResolution);
        QVERIFY(printHtml(userReportHtml(userReport(users[0])), *pdfPrinter(printer, path)));
        const QString pdf = pdfText(path);
        QVERIFY2(pdf.contains(QStringLiteral("Anna <b>&amp;")), qPrintable(pdf.left(500)));
        for (const QString& caption : {QStringLiteral("Phone calls"), QStringLiteral("Chg"), QStringLiteral("Export data"),
                                       QStringLiteral("Broadcast messages allowed")})
            QVERIFY2(pdf.contains(caption), qPrintable(caption));

        QPrinter nowhere(QPrinter::HighResolution);
        QVERIFY(!printHtml(QStringLiteral("<p>x</p>"), *pdfPrinter(nowhere, dir.filePath("no/such/dir/x.pdf"))));
    }

    // The window as the supervisor uses it: the user chosen, the other page,
    // printing through the print dialog's seam, saving, help.
    void window()
    {
        support::MessageScript script;
        support::HelpRecorder help;
        TfrmPermReport w;
        w.userId = users[2];
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.cbUser->currentData().toString(), users[2]);
        QCOMPARE(w.cbDatabase->count(), 1 + databases.size());
        QVERIFY(w.viewUser->toPlainText().contains(users[2]));
        QVERIFY(w.viewUser->toPlainText().contains(QStringLiteral("Phone calls")));

        w.cbUser->setCurrentIndex(w.cbUser->findData(users[0]));
        QVERIFY(w.viewUser->toPlainText().contains(users[0]));
        QTemporaryDir dir;
        const QString userCsv = dir.filePath(QStringLiteral("user.csv"));
        w.chooseCsvFile = [&](const QString& suggested) {
            return suggested.endsWith(QStringLiteral(".csv")) ? userCsv : QString();
        };
        w.btSave->click();
        QFile file(userCsv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        const QList<QStringList> lines = parseCsv(QString::fromUtf8(bytes.mid(3)));
        QVERIFY(lines.size() > 50);
        QCOMPARE(lines[1][0], users[0]);

        w.nbook->setCurrentWidget(w.WhoPage);
        w.cbPermission->setCurrentIndex(w.cbPermission->findData(QStringLiteral("ActExport")));
        QVERIFY(w.viewWho->toPlainText().contains(QStringLiteral("Export data")));
        const QString pdf = dir.filePath(QStringLiteral("who.pdf"));
        w.choosePrinter = [&](QPrinter& printer) {
            pdfPrinter(printer, pdf);
            return true;
        };
        w.btPrint->click();
        QVERIFY(pdfText(pdf).contains(QStringLiteral("Export data")));
        w.choosePrinter = [](QPrinter&) { return false; }; // the print dialog cancelled
        QFile::remove(pdf);
        w.btPrint->click();
        QVERIFY(!QFile::exists(pdf));

        QVERIFY(script.shown().isEmpty());
        QVERIFY(!w.saveCsv(dir.filePath(QStringLiteral("no/such/dir/who.csv"))));
        QCOMPARE(script.shown().size(), 1);
        QVERIFY(script.texts().first().startsWith(QStringLiteral("The report could not be saved as")));

        // A user removed meanwhile by another program: the error is told and
        // nothing stale is left to print or save.
        w.nbook->setCurrentWidget(w.UserPage);
        {
            store::Table table(catalogue::kAlias, catalogue::kUserPref);
            table.open();
            QVERIFY(table.findKey({users[3]}));
            table.deleteRecord();
        }
        script.clear();
        w.cbUser->setCurrentIndex(w.cbUser->findData(users[3]));
        QCOMPARE(script.shown().size(), 1);
        QVERIFY2(script.texts().first().contains(users[3]) || script.details().first().contains(users[3]),
                 qPrintable(script.texts().first()));
        QVERIFY(!w.btPrint->isEnabled() && !w.btSave->isEnabled());
        w.cbUser->setCurrentIndex(w.cbUser->findData(users[0]));
        QVERIFY(w.btPrint->isEnabled() && w.btSave->isEnabled());

        w.btHelp->click();
        QCOMPARE(help.lastContext(), 1430);
        QFile helpFile(QFINDTESTDATA("../../docs/Brisel.html"));
        QVERIFY(helpFile.open(QIODevice::ReadOnly));
        QVERIFY(helpFile.readAll().contains("<a name=\"1430\"></a>Permission report"));
    }

    // The main window's "Permission Report..." opens the report on the user
    // chosen in the list.
    void openedFromTheMainWindow()
    {
        support::MessageScript script;
        TfrmMain main;
        main.show();
        main.tblUserPref.findKey({users[1]});
        QString shown;
        QTimer::singleShot(0, [&] {
            auto* report = qobject_cast<TfrmPermReport*>(QApplication::activeModalWidget());
            if (report) {
                shown = report->cbUser->currentData().toString();
                report->reject();
            }
        });
        main.PermissionReport1->trigger();
        QCOMPARE(shown, users[1]);
        QCOMPARE(main.PermissionReport1->text(), QStringLiteral("Permission Report..."));
    }
};

QTEST_MAIN(TestPermReport)
#include "tst_permreport.moc"
