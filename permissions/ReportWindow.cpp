#include "permissions/ReportWindow.h"

#include "permissions/ReportFormat.h"
#include "store/Catalogue.h"
#include "store/Table.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "support/Text.h"
#include "ui/BusyCursor.h"
#include "ui/DialogFrame.h"
#include "ui/GuardedSlot.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSaveFile>
#include <QTabWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

constexpr int kHelpContext = 1430;

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

// (key, shown text) of every row of a table, in key order.
QList<QPair<QString, QString>> choices(const QString& tableName, const QString& keyField, const QString& nameField)
{
    store::Table table(catalogue::kAlias, tableName);
    table.open();
    QList<QPair<QString, QString>> list;
    for (const store::RowSnapshot& row : table.snapshot({keyField, nameField})) {
        const QString key = row.values[0].toString();
        list.append({key, key + QStringLiteral("  ") + row.values[1].toString()});
    }
    return list;
}

void fill(QComboBox* box, const QList<QPair<QString, QString>>& items)
{
    for (const auto& item : items)
        box->addItem(item.second, item.first);
}

QTextBrowser* makeView(QWidget* parent)
{
    auto* view = new QTextBrowser(parent);
    view->setOpenLinks(false);
    view->setMinimumSize(640, 440);
    return view;
}

// A file name of plain letters, digits and dashes.
QString safeName(QString name)
{
    for (QChar& c : name)
        if (!c.isLetterOrNumber() && c != QLatin1Char('-'))
            c = QLatin1Char('-');
    return name;
}

} // namespace

TfrmPermReport::TfrmPermReport(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(text("Permission Report"));
    nbook = new QTabWidget(this);
    UserPage = buildPage("&User:", cbUser, "&Database:", cbDatabase, viewUser);
    WhoPage = buildPage("D&atabase:", cbWhoDatabase, "Per&mission:", cbPermission, viewWho);
    nbook->addTab(UserPage, text("What can this user do"));
    nbook->addTab(WhoPage, text("Who can do this"));

    btPrint = new QPushButton(text("&Print..."), this);
    btSave = new QPushButton(text("Save as &CSV..."), this);
    btHelp = new QPushButton(text("&Help"), this);
    btClose = new QPushButton(text("Close"), this);
    for (QPushButton* b : {btPrint, btSave, btHelp, btClose})
        b->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btPrint);
    buttons->addWidget(btSave);
    buttons->addStretch();
    buttons->addWidget(btHelp);
    buttons->addWidget(btClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(nbook, 1);
    layout->addLayout(buttons);

    choosePrinter = [this](QPrinter& printer) {
        QPrintDialog dialog(&printer, this);
        return dialog.exec() == QDialog::Accepted;
    };
    chooseCsvFile = [this](const QString& suggested) {
        return QFileDialog::getSaveFileName(this, text("Save as CSV"), suggested, text("CSV files (*.csv)"));
    };

    connect(btPrint, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmPermReport::btPrintClick));
    connect(btSave, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmPermReport::btSaveClick));
    connect(btHelp, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmPermReport::btHelpClick));
    connect(btClose, &QPushButton::clicked, this, &QDialog::reject);
    const auto user = ui::guardedSlot(this, &TfrmPermReport::showUserReport);
    const auto who = ui::guardedSlot(this, &TfrmPermReport::showWhoCan);
    connect(cbUser, &QComboBox::currentIndexChanged, this, user);
    connect(cbDatabase, &QComboBox::currentIndexChanged, this, user);
    connect(cbWhoDatabase, &QComboBox::currentIndexChanged, this, who);
    connect(cbPermission, &QComboBox::currentIndexChanged, this, who);
    connect(nbook, &QTabWidget::currentChanged, this, &TfrmPermReport::updateButtons);
    updateButtons();
    ui::setTabChain({nbook, cbUser, cbDatabase, viewUser, cbWhoDatabase, cbPermission, viewWho, btPrint, btSave,
                     btHelp, btClose});
}

TfrmPermReport::~TfrmPermReport() = default;

// A page: two choices above the report they choose.
QWidget* TfrmPermReport::buildPage(const char* firstLabel, QComboBox*& first, const char* secondLabel,
                                   QComboBox*& second, QTextBrowser*& view)
{
    auto* page = new QWidget(this);
    first = new QComboBox(page);
    second = new QComboBox(page);
    view = makeView(page);
    auto* form = new QFormLayout;
    form->addRow(text(firstLabel), first);
    form->addRow(text(secondLabel), second);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(form);
    layout->addWidget(view, 1);
    return page;
}

void TfrmPermReport::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!ui::firstShowing(this, m_shown))
        return;
    support::guarded([this] { FormShow(); });
}

void TfrmPermReport::FormShow()
{
    ui::BusyCursor busy;
    const auto users = choices(catalogue::kUserPref, catalogue::fWho, catalogue::fFullName);
    const auto databases = choices(catalogue::kDatabase, catalogue::fDb, catalogue::fDescription);
    fill(cbUser, users);
    cbDatabase->addItem(text("All databases"), QString());
    fill(cbDatabase, databases);
    fill(cbWhoDatabase, databases);
    for (const permissions::PermissionField& f : permissions::permissionFields())
        cbPermission->addItem(QStringLiteral("%1: %2").arg(f.section, f.caption.trimmed()), f.field);
    const int start = cbUser->findData(userId);
    if (start >= 0)
        cbUser->setCurrentIndex(start);
    m_filled = true;
    showUserReport();
    showWhoCan();
}

void TfrmPermReport::updateButtons()
{
    const bool shown = nbook->currentWidget() == UserPage ? !m_user.who.isEmpty() : !m_who.db.isEmpty();
    btPrint->setEnabled(shown);
    btSave->setEnabled(shown);
}

void TfrmPermReport::showUserReport()
{
    if (!m_filled || cbUser->currentIndex() < 0)
        return;
    viewUser->clear();
    m_user = {};
    updateButtons();
    m_user = permissions::userReport(cbUser->currentData().toString(), cbDatabase->currentData().toString());
    viewUser->setHtml(permissions::userReportHtml(m_user));
    updateButtons();
}

void TfrmPermReport::showWhoCan()
{
    if (!m_filled || cbWhoDatabase->currentIndex() < 0 || cbPermission->currentIndex() < 0)
        return;
    viewWho->clear();
    m_who = {};
    updateButtons();
    m_who = permissions::whoCan(cbWhoDatabase->currentData().toString(), cbPermission->currentData().toString());
    viewWho->setHtml(permissions::whoCanHtml(m_who));
    updateButtons();
}

QString TfrmPermReport::currentHtml() const
{
    return nbook->currentWidget() == UserPage ? permissions::userReportHtml(m_user)
                                                : permissions::whoCanHtml(m_who);
}

QString TfrmPermReport::currentCsv() const
{
    using permissions::CsvStyle;
    return nbook->currentWidget() == UserPage
               ? permissions::rowsCsv(permissions::userReportRows(m_user), CsvStyle::Spreadsheet)
               : permissions::whoCanCsv(m_who, CsvStyle::Spreadsheet);
}

void TfrmPermReport::btPrintClick()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(windowTitle());
    if (!choosePrinter(printer))
        return;
    ui::BusyCursor busy;
    if (!permissions::printHtml(currentHtml(), printer))
        support::showError(text("The report could not be printed."));
}

void TfrmPermReport::btSaveClick()
{
    const QString name = nbook->currentWidget() == UserPage
                             ? QStringLiteral("permissions-%1.csv").arg(safeName(m_user.who))
                             : QStringLiteral("who-can-%1-%2.csv").arg(safeName(m_who.db), safeName(m_who.field));
    const QString path = chooseCsvFile(QDir::home().filePath(name));
    if (!path.isEmpty())
        saveCsv(path);
}

bool TfrmPermReport::saveCsv(const QString& path)
{
    // The byte-order mark tells spreadsheets the file is UTF-8; the whole
    // file replaces an old one only once it is written.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write("\xEF\xBB\xBF");
        file.write(currentCsv().toUtf8());
        if (file.commit())
            return true;
    }
    support::showError(text("The report could not be saved as %1.").arg(QDir::toNativeSeparators(path)),
                       file.errorString());
    return false;
}

void TfrmPermReport::btHelpClick() { support::openHelp(kHelpContext); }
