#include "permissions/Chperm.h"

#include "permissions/Browse.h"

#include "permissions/PermEdits.h"
#include "permissions/PermModel.h"
#include "permissions/PermTexts.h"
#include "permissions/shortcut.h"
#include "store/ChangeUnit.h"
#include "store/Catalogue.h"
#include "support/Changes.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "support/Text.h"
#include "ui/BusyCursor.h"
#include "ui/ControlsPaused.h"
#include "ui/DataSource.h"
#include "ui/DbCheckBox.h"
#include "ui/DbCheckList.h"
#include "ui/DbGrid.h"
#include "ui/DialogFrame.h"
#include "ui/GuardedSlot.h"
#include "ui/HidePanel.h"
#include "ui/Notebook.h"
#include "ui/ProgressWindow.h"
#include "ui/RowState.h"
#include "ui/TitleLabel.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kHelpContext = 1420;
const QString kAccess = QStringLiteral("Access");

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

QPushButton* button(const char* caption, QWidget* parent)
{
    return new QPushButton(text(caption), parent);
}

} // namespace

TfrmPerm::TfrmPerm(store::Table& userTable, QWidget* parent)
    : QDialog(parent),
      tblUserPref(userTable),
      tblDatabase(catalogue::kAlias, catalogue::kDatabase),
      tblPerm(catalogue::kAlias, catalogue::kPerm)
{
    permissions::installPermHooks(tblPerm);
    dsDatabase = new ui::DataSource(this);
    dsPerm = new ui::DataSource(this);
    dsDatabase->setTable(&tblDatabase);
    dsPerm->setTable(&tblPerm);
    buildWindow();
    connect(dsDatabase, &ui::DataSource::dataChange, this,
            ui::guardedSlot(this, &TfrmPerm::dsDatabaseDataChange));
}

TfrmPerm::~TfrmPerm()
{
    // The controls let go of the tables before the tables go.
    dsDatabase->setTable(nullptr);
    dsPerm->setTable(nullptr);
}

void TfrmPerm::buildWindow()
{
    lblTitle = ui::makeTitleLabel(text("User: %1").arg(userId), this);
    lblDB = ui::makeTitleLabel(text("Database: %1").arg(QString()), this);

    grDatabase = new ui::DbGrid(this);
    grDatabase->setColumns({{catalogue::fDb, text("DB"), 11, true},
                            {catalogue::fDescription, text("Description"), 33, true}});
    grDatabase->setDataSource(dsDatabase);

    nbook = new ui::Notebook(this);
    DatePage = buildDataPage();
    VisiblePage = buildTabsPage();
    ActionsPage = buildActionsPage();
    nbook->addPage(DatePage, text("Data"));
    nbook->addPage(VisiblePage, text("Visible Tabs"));
    nbook->addPage(ActionsPage, text("Actions"));

    Shortcuts = button("&Shortcuts", this);
    btBrowse = button("&Browse", this);
    OKBtn = button("OK", this);
    CancelBtn = button("Cancel", this);
    HelpBtn = button("&Help", this);
    OKBtn->setDefault(true);
    for (QPushButton* b : {Shortcuts, btBrowse, CancelBtn, HelpBtn})
        b->setAutoDefault(false);

    auto* titles = new QHBoxLayout;
    titles->addWidget(lblTitle);
    titles->addStretch();
    titles->addWidget(lblDB);
    auto* body = new QHBoxLayout;
    body->addWidget(grDatabase);
    body->addWidget(nbook, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* b : {Shortcuts, btBrowse, OKBtn, CancelBtn, HelpBtn})
        buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(titles);
    layout->addLayout(body, 1);
    layout->addLayout(buttons);
    grDatabase->setMinimumWidth(ui::DbGrid::columnPixels(grDatabase->fontMetrics(), 11 + 33 + 2));

    ui::setTabChain({grDatabase, nbook, Shortcuts, btBrowse, OKBtn, CancelBtn, HelpBtn});

    connect(cbAccess, &QCheckBox::clicked, this, ui::guardedSlot(this, &TfrmPerm::cbAccessClick));
    connect(lbPerm, &ui::DbCheckList::itemClick, this,
            [this](int item) { support::guarded([this, item] { lbPermClick(item); }); });
    auto onClick = [this](QPushButton* b, auto handler) {
        connect(b, &QPushButton::clicked, this, [this, handler] { support::guarded([&] { handler(); }); });
    };
    onClick(btSetData, [this] { setAllDB(true); });
    onClick(btClearData, [this] { setAllDB(false); });
    onClick(btSetAllTab, [this] { setAllTabs(true); });
    onClick(btClrAllTab, [this] { setAllTabs(false); });
    onClick(btSetAct, [this] { setAllActions(true); });
    onClick(btClearAct, [this] { setAllActions(false); });
    connect(OKBtn, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmPerm::OKBtnClick));
    connect(CancelBtn, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmPerm::CancelBtnClick));
    connect(HelpBtn, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmPerm::HelpBtnClick));
    connect(btBrowse, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmPerm::btBrowseClick));
    connect(Shortcuts, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmPerm::ShortcutsClick));

    ui::fixDialogBorder(this);
    ui::fixDialogSize(this, QSize(632, 413));
}

QWidget* TfrmPerm::buildDataPage()
{
    auto* page = new QWidget;
    cbAccess = new ui::DbCheckBox(permissions::accessCaption(), page);
    cbAccess->setDataSource(dsPerm);
    cbAccess->setDataField(kAccess);
    auto* note = new QLabel(
        text("Note: if user doesn't have access to the database then all permissions will have no effect."), page);
    note->setWordWrap(true);

    // Everything below the note lies on one panel, which the hide panel covers.
    pnlKinds = new QWidget(page);
    auto* grid = new QGridLayout;
    const QList<permissions::KindOperation>& operations = permissions::kindOperations();
    for (int c = 0; c < operations.size(); ++c)
        grid->addWidget(new QLabel(support::uiText(operations[c].dialogLabel), pnlKinds), 0, c + 1, Qt::AlignHCenter);
    const QList<permissions::RecordKind>& kinds = permissions::recordKinds();
    for (int r = 0; r < kinds.size(); ++r) {
        grid->addWidget(new QLabel(support::uiText(kinds[r].dialogLabel), pnlKinds), r + 1, 0);
        for (int c = 0; c < operations.size(); ++c) {
            if (r == 0 && c == 0)
                continue; // CVisible is not offered here
            auto* box = new ui::DbCheckBox(QString(), pnlKinds);
            box->setDataSource(dsPerm);
            box->setDataField(kinds[r].letter + operations[c].suffix);
            box->setAccessibleName(kinds[r].dialogLabel + QLatin1Char(' ') + operations[c].dialogLabel);
            grid->addWidget(box, r + 1, c + 1, Qt::AlignHCenter);
            kindBoxes.append(box);
        }
    }
    btSetData = button("Set all", pnlKinds);
    btClearData = button("Clear all", pnlKinds);
    auto* setButtons = new QHBoxLayout;
    setButtons->addWidget(btSetData);
    setButtons->addWidget(btClearData);
    setButtons->addStretch();
    auto* panelLayout = new QVBoxLayout(pnlKinds);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->addLayout(grid);
    panelLayout->addStretch();
    panelLayout->addLayout(setButtons);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(cbAccess);
    layout->addWidget(note);
    layout->addWidget(pnlKinds, 1);
    pnlHide = new ui::HidePanel(pnlKinds);
    return page;
}

QWidget* TfrmPerm::buildTabsPage()
{
    auto* page = new QWidget;
    auto* grid = new QGridLayout;
    const QList<permissions::TabFlag>& tabs = permissions::tabFlags();
    for (int i = 0; i < tabs.size(); ++i) {
        auto* box = new ui::DbCheckBox(support::uiText(tabs[i].caption), page);
        box->setDataSource(dsPerm);
        box->setDataField(tabs[i].field);
        tabBoxes.append(box);
        // Eight on the left, five on the right.
        grid->addWidget(box, i < 8 ? i : i - 8, i < 8 ? 0 : 1);
    }
    btSetAllTab = button("Set all", page);
    btClrAllTab = button("Clear all", page);
    auto* setButtons = new QHBoxLayout;
    setButtons->addWidget(btSetAllTab);
    setButtons->addWidget(btClrAllTab);
    setButtons->addStretch();
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(grid);
    layout->addStretch();
    layout->addLayout(setButtons);
    return page;
}

QWidget* TfrmPerm::buildActionsPage()
{
    auto* page = new QWidget;
    lbPerm = new ui::DbCheckList(page);
    lbPerm->setDataSource(dsPerm);
    QStringList captions;
    for (const QString& caption : permissions::actionCaptions())
        captions << support::uiText(caption);
    lbPerm->setCaptions(captions);
    lblNset = new QLabel(permissions::countText(0, 0), page);
    btSetAct = button("Set all", page);
    btClearAct = button("Clear all", page);
    auto* setButtons = new QHBoxLayout;
    setButtons->addWidget(lblNset);
    setButtons->addStretch();
    setButtons->addWidget(btSetAct);
    setButtons->addWidget(btClearAct);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(lbPerm, 1);
    layout->addLayout(setButtons);
    return page;
}

void TfrmPerm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!ui::firstShowing(this, m_shown))
        return;
    OKBtn->setFocus();
    if (!support::guarded([this] { FormShow(); })) {
        // Without its rows the dialog can show nothing true: it closes.
        QMetaObject::invokeMethod(this, &TfrmPerm::reject, Qt::QueuedConnection);
    }
}

void TfrmPerm::FormShow()
{
    pnlHide->raise();
    {
        ui::BusyCursor busy;
        tblPerm.open();
        const permissions::FlagRun run = permissions::actionRun(tblPerm);
        firstAction = run.first;
        lastAction = run.last;
        lbPerm->setRun(firstAction, lastAction);
        tblDatabase.open();
        if (!tblUserPref.active())
            tblUserPref.open();
        InitializeAllUsers();
        nbook->showPage(DatePage);
        store::Field& superUser = tblUserPref.fieldByName(catalogue::fSuperUser);
        if (tblUserPref.findKey({userId}) && superUser.isNull()) {
            tblUserPref.edit();
            superUser.setAsBoolean(false);
            store::ChangeUnit unit(tblUserPref);
            tblUserPref.post();
            support::journalfield(tblUserPref, catalogue::fSuperUser, support::ActionField);
            unit.commit();
        }
    }
    m_opened = true;
    dsDatabaseDataChange();
}

void TfrmPerm::InitializeAllUsers()
{
    {
        ui::ControlsPaused paused({&tblUserPref, &tblDatabase, &tblPerm});
        // Up to 100,000 small writes: one batch keeps them quick without
        // keeping other programs waiting.
        store::WriteBatch batch;
        // No Cancel: the dialog shows nothing true without these rows.
        ui::ProgressWindow progress(windowTitle(), text("pairs"), ui::ProgressWindow::Cancel::NotOffered, this);
        permissions::initializeAllPairs(tblUserPref, tblDatabase, tblPerm, &progress);
        batch.commit();
        tblUserPref.findKey({userId});
        tblDatabase.first();
        if (!tblDatabase.eof())
            tblPerm.findKey({tblDatabase.fieldByName(catalogue::fDb).asString(), userId});
    }
    lblTitle->setText(text("User: %1").arg(tblUserPref.fieldByName(catalogue::fWho).asString()));
}

bool TfrmPerm::positionPermRow()
{
    const QString db = tblDatabase.fieldByName(catalogue::fDb).asString();
    if (tblPerm.findKey({db, userId}))
        return true;
    // Rows usually go with their database or user: re-creating them would
    // grant everything to a pair that no longer exists.
    if (!permissions::storedRowExists(catalogue::kUserPref, {userId})) {
        nbook->setEnabled(false);
        Shortcuts->setEnabled(false);
        support::showError(text("User %1 was deleted by another program.").arg(userId));
        return false;
    }
    if (!permissions::storedRowExists(catalogue::kDatabase, {db})) {
        tblDatabase.refresh(); // its data change shows the row that follows
        return false;
    }
    permissions::initializePermRow(tblPerm, db, userId);
    return true;
}

void TfrmPerm::dsDatabaseDataChange()
{
    if (!m_opened || !tblDatabase.active() || !tblPerm.active())
        return;
    // Without a database there is no row of this user to show: the pages
    // must not write into whatever row the permission table is on.
    const bool haveDatabase = !tblDatabase.isEmpty();
    nbook->setEnabled(haveDatabase);
    Shortcuts->setEnabled(haveDatabase);
    if (!haveDatabase)
        return;
    if (!positionPermRow()) // a row left with changes is saved (and journalled) first
        return;
    const QString db = tblDatabase.fieldByName(catalogue::fDb).asString();
    lblDB->setText(text("Database: %1").arg(db));
    pnlHide->setCaption(text("%1 has no access to database %2").arg(userId, db));
    permissionToCheckmarks();
    updateNumberSet();
    showAccessState();
}

void TfrmPerm::showAccessState()
{
    const bool access = tblPerm.fieldByName(kAccess).asBoolean();
    pnlHide->setCovering(!access);
    nbook->setPageVisible(VisiblePage, access);
    nbook->setPageVisible(ActionsPage, access);
}

void TfrmPerm::cbAccessClick() { showAccessState(); }

void TfrmPerm::lbPermClick(int item)
{
    CheckMarksToPermission(item);
    updateNumberSet();
}

void TfrmPerm::setAllDB(bool value)
{
    ui::startEditing(tblPerm);
    for (const QString& name : permissions::recordKindFields())
        tblPerm.fieldByName(name).setAsBoolean(value);
}

void TfrmPerm::setAllTabs(bool value)
{
    ui::startEditing(tblPerm);
    for (const permissions::TabFlag& tab : permissions::tabFlags())
        tblPerm.fieldByName(tab.field).setAsBoolean(value);
}

void TfrmPerm::setAllActions(bool value)
{
    permissions::setAllActions(tblPerm, value);
    permissionToCheckmarks();
    updateNumberSet();
}

void TfrmPerm::permissionToCheckmarks() { lbPerm->loadFromRow(); }

void TfrmPerm::CheckMarksToPermission(int item)
{
    // When editing took a newer row, the list shows that row with the tick.
    lbPerm->setChecks(permissions::applyTick(tblPerm, {firstAction, lastAction}, item, lbPerm->isChecked(item)));
}

void TfrmPerm::updateNumberSet()
{
    const int set = lbPerm->checkedCount();
    lblNset->setText(permissions::countText(set, lbPerm->count() - set));
}

void TfrmPerm::checkDBSuperUser()
{
    // Without a database no permission row is shown: nothing to warn about.
    if (!tblUserPref.fieldByName(catalogue::fSuperUser).asBoolean() || !nbook->isEnabledTo(this))
        return;
    const QVector<bool> actions = permissions::readRun(tblPerm, {firstAction, lastAction});
    int unset = actions.size() - permissions::countSet(actions);
    if (unset == 0) {
        for (ui::DbCheckBox* box : QList<ui::DbCheckBox*>{cbAccess} + kindBoxes + tabBoxes)
            if (!box->isChecked())
                ++unset;
    }
    if (unset > 0)
        support::showWarning(permissions::databaseSupervisorWarning());
}

void TfrmPerm::OKBtnClick()
{
    checkDBSuperUser();
    if (ui::isEditing(tblPerm))
        tblPerm.post(); // journalled by the BeforePost hook
    if (ui::isEditing(tblUserPref)) {
        store::ChangeUnit unit(tblUserPref);
        tblUserPref.post();
        support::journalrecord(tblUserPref, support::ActionChanged);
        unit.commit();
    }
    accept();
}

void TfrmPerm::CancelBtnClick() { reject(); }

void TfrmPerm::reject()
{
    // Cancel, Esc and the close box alike: pending changes go, rows saved
    // earlier stay saved.
    support::guarded([this] {
        ui::dropPendingRow(tblPerm);
        ui::dropPendingRow(tblUserPref);
    });
    QDialog::reject();
}

void TfrmPerm::btBrowseClick()
{
    // The browser may change the same row: a pending edit saved after it
    // would be refused as another program's change.
    savePendingRows();
    openPermissionBrowser();
    rereadPermissions();
}

void TfrmPerm::openPermissionBrowser()
{
    TfrmBrowse browser(this);
    browser.exec();
}

void TfrmPerm::ShortcutsClick()
{
    savePendingRows();
    TfrmShortCut dialog(this);
    dialog.database = tblDatabase.fieldByName(catalogue::fDb).asString();
    dialog.userId = tblUserPref.fieldByName(catalogue::fWho).asString();
    dialog.exec();
    rereadPermissions();
}

void TfrmPerm::savePendingRows()
{
    if (ui::isEditing(tblPerm)) {
        store::ChangeUnit unit(tblPerm);
        tblPerm.post(); // journalled by the BeforePost hook
        support::journalrecord(tblPerm, support::ActionChanged);
        unit.commit();
    }
    if (ui::isEditing(tblUserPref)) {
        store::ChangeUnit unit(tblUserPref);
        tblUserPref.post();
        support::journalrecord(tblUserPref, support::ActionChanged);
        unit.commit();
    }
}

void TfrmPerm::rereadPermissions()
{
    tblPerm.refresh();
    dsDatabaseDataChange();
}

void TfrmPerm::HelpBtnClick() { support::openHelp(kHelpContext); }
