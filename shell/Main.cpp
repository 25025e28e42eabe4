#include "shell/Main.h"

#include "accounts/Replace.h"
#include "accounts/Settings.h"
#include "accounts/User.h"
#include "accounts/UserRows.h"
#include "login/force.h"
#include "shell/DeleteUser.h"
#include "shell/Backup.h"
#include "permissions/permSel.h"
#include "permissions/ReportWindow.h"
#include "shell/CleanDb.h"
#include "shell/Paths.h"
#include "shell/RestoreWindow.h"
#include "store/ChangeUnit.h"
#include "store/Catalogue.h"
#include "support/Changes.h"
#include "support/ErrorBox.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "support/Text.h"
#include "ui/DataSource.h"
#include "ui/DbEdit.h"
#include "ui/DbGrid.h"
#include "ui/DialogFrame.h"
#include "ui/GuardedSlot.h"
#include "ui/ProgressWindow.h"
#include "ui/RowState.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <utility>

namespace {

constexpr int kHelpContext = 1000;

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

// Runs work, then cleanUp, also when work raises; the error goes on after
// cleanUp. (Not a scope guard: cleanUp may raise too.)
template <typename Work, typename CleanUp>
void runThen(Work&& work, CleanUp&& cleanUp)
{
    try {
        std::forward<Work>(work)();
    } catch (...) {
        cleanUp();
        throw;
    }
    cleanUp();
}

// Runs a dialog over a row it edits in place, then drops the row if the
// dialog left it in insert or edit state (closed with its close box, or an
// error on the way), so that nothing half-made is saved later behind the
// supervisor's back.
template <typename F>
void runOnPendingRow(store::Table& table, F&& run)
{
    runThen(std::forward<F>(run), [&table] { ui::dropPendingRow(table); });
}

void defaultCursor()
{
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

} // namespace

TfrmMain::TfrmMain(const QString& programDir, QWidget* parent)
    : QMainWindow(parent),
      tblUserPref(catalogue::kAlias, catalogue::kUserPref),
      tblContact(catalogue::kAlias, catalogue::kContact),
      tblDatabase(catalogue::kAlias, catalogue::kDatabase),
      tblUserDB(catalogue::kAlias, catalogue::kUserDb),
      tblPerm(catalogue::kAlias, catalogue::kPerm),
      tblHoliday(catalogue::kAlias, catalogue::kHoliday),
      tblInOut(catalogue::kAlias, catalogue::kInOut),
      tblMarks(catalogue::kAlias, catalogue::kMarks),
      tblUsersOn(catalogue::kAlias, catalogue::kUsersOn),
      m_programDir(programDir.isEmpty() ? QCoreApplication::applicationDirPath() : programDir)
{
    buildWindow();
    FormCreate();
}

TfrmMain::~TfrmMain()
{
    // The grid goes after the tables: unbind it first.
    dsUserPref->setTable(nullptr);
}

void TfrmMain::buildWindow()
{
    setWindowTitle(text("Brisel"));

    auto* central = new QWidget(this);
    lblHeading = new QLabel(text("Maintain list of users"), central);
    QFont headingFont = lblHeading->font();
    headingFont.setBold(true);
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.3);
    lblHeading->setFont(headingFont);

    dsUserPref = new ui::DataSource(this);
    grid = new ui::DbGrid(central);
    grid->setColumns({
        {catalogue::fWho, text("Who"), 10, true},
        {catalogue::fFullName, text("Full Name"), 46, true},
        {catalogue::fSuperUser, text("Supervisor?"), 15, true},
    });
    grid->setDataSource(dsUserPref);
    int gridWidth = grid->frameWidth() * 2 + 2;
    for (int c = 0; c < 3; ++c)
        gridWidth += grid->columnWidth(c);
    grid->setMinimumWidth(gridWidth + 20);
    grid->setMinimumHeight(grid->verticalHeader()->defaultSectionSize() * 12);
    grid->horizontalHeader()->setStretchLastSection(true);

    auto button = [central](const char* caption, const char* hint) {
        auto* b = new QPushButton(text(caption), central);
        if (hint)
            b->setToolTip(text(hint));
        b->setAutoDefault(false);
        return b;
    };
    btAdd = button("Add", "Add a new user to the system");
    btDelete = button("Delete", "Delete a user from the system");
    btModify = button("Modify", "Set or change the password for a user");
    btReplace = button("Replace Users", "Replace WHO field from one user to another");
    btCopy = button("Copy Settings", "Copy settings from one user to another user");
    btPermission = button("&Permissions", "Set the permissions for each user");
    btForce = button("&Force off", "Force users off system");
    btHelp = button("&Help", nullptr);
    btClose = button("E&xit", nullptr);

    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {btAdd, btDelete, btModify, btReplace, btCopy, btPermission, btForce, btHelp, btClose})
        buttons->addWidget(b);
    buttons->addStretch();
    auto* body = new QHBoxLayout;
    body->addWidget(grid, 1);
    body->addLayout(buttons);
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(lblHeading);
    layout->addLayout(body, 1);
    setCentralWidget(central);

    // Tab order: the grid, then the buttons top to bottom.
    ui::setTabChain({grid, btAdd, btDelete, btModify, btReplace, btCopy, btPermission, btForce, btHelp, btClose});

    QMenu* fileMenu = menuBar()->addMenu(text("&File"));
    Exit1 = fileMenu->addAction(text("E&xit"));
    QMenu* actions = menuBar()->addMenu(text("&Actions"));
    AddUser1 = actions->addAction(text("&Add User"));
    DeleteUser1 = actions->addAction(text("&Delete User"));
    ModifyUser1 = actions->addAction(text("&Modify User"));
    actions->addSeparator();
    ReplaceUsers1 = actions->addAction(text("&Replace Users"));
    CopySettings1 = actions->addAction(text("&Copy Settings"));
    Permissions1 = actions->addAction(text("&Permissions"));
    PermissionReport1 = actions->addAction(text("Permission Report..."));
    actions->addSeparator();
    ForceUsersOff1 = actions->addAction(text("Force Users Off"));
    RestoreFromBackup1 = actions->addAction(text("Restore from Backup..."));
    Help1 = menuBar()->addAction(text("&Help"));

    connectCommand(btAdd, AddUser1, &TfrmMain::btAddClick);
    connectCommand(btDelete, DeleteUser1, &TfrmMain::btDeleteClick);
    connectCommand(btModify, ModifyUser1, &TfrmMain::btModifyClick);
    connectCommand(btReplace, ReplaceUsers1, &TfrmMain::btReplaceClick);
    connectCommand(btCopy, CopySettings1, &TfrmMain::btCopyClick);
    connectCommand(btPermission, Permissions1, &TfrmMain::btPermissionClick);
    connectCommand(nullptr, PermissionReport1, &TfrmMain::PermissionReport1Click);
    connectCommand(btForce, ForceUsersOff1, &TfrmMain::ForceUsersOff1Click);
    connectCommand(nullptr, RestoreFromBackup1, &TfrmMain::RestoreFromBackup1Click);
    connectCommand(btHelp, nullptr, &TfrmMain::btHelpClick);
    connectCommand(nullptr, Help1, &TfrmMain::Help1Click);
    connectCommand(btClose, Exit1, &TfrmMain::btCloseClick);
    connect(grid, &QAbstractItemView::doubleClicked, this, ui::guardedSlot(this, &TfrmMain::btPermissionClick));

    // A fixed border with a close box only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    adjustSize();
    setFixedSize(sizeHint());
}

void TfrmMain::connectCommand(QPushButton* button, QAction* action, void (TfrmMain::*command)())
{
    const auto run = ui::guardedSlot(this, command);
    if (button)
        connect(button, &QPushButton::clicked, this, run);
    if (action)
        connect(action, &QAction::triggered, this, run);
}

void TfrmMain::FormCreate()
{
    support::setJournalActive(support::journalFileExists());
    tblUserDB.onNewRecord = [this](store::Table& t) { tblUserDBNewRecord(t); };
    tblPerm.beforePost = [this](store::Table& t) { tblPermBeforePost(t); };
    dsUserPref->setTable(&tblUserPref);
    // The user table opens with the window; a failure is reported when the
    // window is shown.
    try {
        tblUserPref.open();
    } catch (const std::exception&) {
    }
}

void TfrmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!ui::firstShowing(this, m_shown))
        return;
    support::guarded([this] { FormShow(); });
}

void TfrmMain::FormShow()
{
    support::setHelpFile(shell::joinPath(m_programDir, QStringLiteral("Brisel.HLP")));

    if (!tblUserPref.active()) {
        try {
            tblUserPref.open();
        } catch (const std::exception& error) {
            support::showError(text("Could not open the userpref database."), error);
            TurnOffButtons();
            return;
        }
    }

    // Whether anybody runs Kontiva: it keeps the contact table open.
    tblContact.setExclusive(true);
    try {
        tblContact.open();
    } catch (const std::exception& error) {
        tblContact.setExclusive(false);
        support::showError(text("You cannot delete or replace existing users while others are accessing Kontiva."), error);
        btDelete->setEnabled(false);
        btReplace->setEnabled(false);
        return;
    }
    releaseContactTable();
}

void TfrmMain::TurnOffButtons()
{
    for (QPushButton* b : {btAdd, btDelete, btModify, btCopy, btReplace})
        b->setEnabled(false);
}

bool TfrmMain::IsContactTableInUse(QString* reason)
{
    tblContact.close();
    tblContact.setExclusive(true);
    bool inUse = false;
    try {
        tblContact.open();
    } catch (const std::exception& error) {
        inUse = true;
        if (reason)
            *reason = QString::fromUtf8(error.what());
    }
    tblContact.close();
    tblContact.setExclusive(false);
    return inUse;
}

void TfrmMain::btAddClick()
{
    TfrmUser dialog(this);
    dialog.dsUserPref->setTable(&tblUserPref);
    runOnPendingRow(tblUserPref, [&] {
        accounts::startNewUser(tblUserPref);
        dialog.edWho->setReadOnly(false);
        dialog.exec();
    });
}

void TfrmMain::btModifyClick()
{
    if (tblUserPref.recordCount() < 1)
        return;
    TfrmUser dialog(this);
    dialog.dsUserPref->setTable(&tblUserPref);
    dialog.edWho->setReadOnly(true);
    runOnPendingRow(tblUserPref, [&] {
        tblUserPref.edit();
        dialog.exec();
    });
}

void TfrmMain::btDeleteClick()
{
    QString inUse;
    if (IsContactTableInUse(&inUse)) {
        support::showError(shell::contactInUseMessage(), inUse);
        return;
    }
    // Nobody may start Kontiva while the user's rows go.
    tblContact.close();
    tblContact.setExclusive(true);
    try {
        tblContact.open();
    } catch (...) {
        tblContact.setExclusive(false);
        throw;
    }

    bool deleted = false;
    runThen(
        [&] {
            if (tblUserPref.recordCount() < 1)
                return;
            const QString who = tblUserPref.fieldByName(QStringLiteral("who")).asString();
            if (!support::confirm(shell::deleteQuestion(who), support::BoxKind::Question))
                return;
            shell::deleteCurrentUser(tblUserPref,
                                     {&tblUserDB, &tblPerm, &tblHoliday, &tblInOut, &tblMarks, &tblUsersOn});
            deleted = true;
        },
        [this] { releaseContactTable(); });

    if (deleted) {
        support::showInfo(shell::deletedAdvice());
    }
}

void TfrmMain::releaseContactTable()
{
    tblContact.close();
    tblContact.setExclusive(false);
    tblContact.open();
}

void TfrmMain::btReplaceClick()
{
    QString inUse;
    if (IsContactTableInUse(&inUse)) {
        support::showError(shell::contactInUseMessage(), inUse);
        return;
    }
    if (tblUserPref.recordCount() < 1)
        return;
    {
        TfrmReplace dialog(this);
        dialog.exec();
    }
    // The contact table stays closed after a replace.
    defaultCursor();
}

void TfrmMain::btCopyClick()
{
    if (tblUserPref.recordCount() < 2)
        return;
    {
        TfrmSettings dialog(this);
        dialog.exec();
    }
    // The copy writes user rows through objects of its own.
    tblUserPref.refresh();
}

void TfrmMain::btPermissionClick()
{
    if (tblUserPref.recordCount() < 1)
        return;
    TfrmSelectPermission chooser(this);
    chooser.Who = tblUserPref.fieldByName(catalogue::fWho).asString();
    chooser.FullName = tblUserPref.fieldByName(catalogue::fFullName).asString();
    chooser.userTable = &tblUserPref;
    chooser.exec();
    // The permission dialogs write user rows through objects of their own.
    tblUserPref.refresh();
}

void TfrmMain::PermissionReport1Click()
{
    TfrmPermReport report(this);
    if (tblUserPref.recordCount() > 0)
        report.userId = tblUserPref.fieldByName(catalogue::fWho).asString();
    report.exec();
}

void TfrmMain::ForceUsersOff1Click()
{
    TfrmForce dialog(this);
    dialog.exec();
}

void TfrmMain::RestoreFromBackup1Click()
{
    {
        TfrmRestore dialog(this);
        dialog.exec();
    }
    // A restore writes user rows through objects of its own.
    tblUserPref.refresh();
}

void TfrmMain::btHelpClick() { support::openHelp(kHelpContext); }

void TfrmMain::Help1Click() { support::openHelp(kHelpContext); }

void TfrmMain::btCloseClick() { close(); }

void TfrmMain::tblUserDBNewRecord(store::Table& table)
{
    table.fieldByName(catalogue::fSyncwellNo).setAsString(shell::newRecordId());
}

void TfrmMain::tblPermBeforePost(store::Table& table)
{
    if (table.state() == store::TableState::Insert)
        support::journalrecord(table, support::ActionAdded);
}

bool TfrmMain::FormClose()
{
    return support::guarded([this] {
        {
            // A large installation takes seconds. The clean-up may stop
            // half-way: the next exit finishes it, and the backup runs anyway.
            ui::ProgressWindow progress(text("Exit clean-up"), text("pairs"), ui::ProgressWindow::Cancel::Offered,
                                        this);
            progress.setNote(text("Cancel stops the clean-up: what is done is kept, and the next exit finishes it."));
            shell::cleanUp(tblDatabase, tblUserDB, tblUserPref, tblPerm, &progress);
        }
        shell::backupUserTables(tblUserPref, tblUserDB);
    });
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    if (FormClose())
        event->accept();
    else
        event->ignore();
}
