#include "permissions/permSys.h"

#include "permissions/PermEdits.h"
#include "permissions/PermTexts.h"
#include "store/ChangeUnit.h"
#include "store/Catalogue.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "support/Text.h"
#include "ui/BusyCursor.h"
#include "ui/DataSource.h"
#include "ui/DbCheckBox.h"
#include "ui/DbCheckList.h"
#include "ui/DbGrid.h"
#include "ui/DialogFrame.h"
#include "ui/GuardedSlot.h"
#include "ui/ProgressWindow.h"
#include "ui/RowState.h"
#include "ui/TitleLabel.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QScrollBar>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kHelpContext = 1410;

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

// Sets a flag for a while and gives it back its value on every path.
class FlagSet {
public:
    FlagSet(bool& flag, bool value) : m_flag(flag), m_saved(flag) { m_flag = value; }
    ~FlagSet() { m_flag = m_saved; }
    FlagSet(const FlagSet&) = delete;
    FlagSet& operator=(const FlagSet&) = delete;

private:
    bool& m_flag;
    bool m_saved;
};

// Closes a table on every path, dropping a row an error left half-written,
// so that a later walk does not save it silently.
class ClosedAfter {
public:
    explicit ClosedAfter(store::Table& table) : m_table(table) {}
    ~ClosedAfter() { m_table.close(); }
    ClosedAfter(const ClosedAfter&) = delete;
    ClosedAfter& operator=(const ClosedAfter&) = delete;

private:
    store::Table& m_table;
};

} // namespace

TfrmSysPerm::TfrmSysPerm(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(text("System Permissions"));
    tblUserPref = new store::Table(catalogue::kAlias, catalogue::kUserPref, this);
    tblU2 = new store::Table(catalogue::kAlias, catalogue::kUserPref, this);
    dsUserPref = new ui::DataSource(this);
    dsUserPref->setTable(tblUserPref);

    lblTitle = ui::makeTitleLabel(text("Global System Permissions for : %1").arg(QString()), this);

    grid = new ui::DbGrid(this);
    grid->setColumns({{catalogue::fWho, text("Who"), 6}, {catalogue::fFullName, text("FullName"), 17}});
    grid->setDataSource(dsUserPref);
    grid->setRowIndicator(true);
    grid->setRowSaver([this](store::Table&) { saveEditedRow(); });

    lbPerm = new ui::DbCheckList(this);
    lbPerm->setDataSource(dsUserPref);
    lbPerm->setCaptions(permissions::systemCaptions());

    lblNset = new QLabel(permissions::countText(0, 0), this);
    btSetAct = new QPushButton(text("&Set all"), this);
    btClearAct = new QPushButton(text("&Clear all"), this);

    auto* supervisor = new QGroupBox(text("Supervisor priviledges?"), this);
    dbYes = new ui::DbCheckBox(text("&Yes, supervisor overrides all permission settings"), supervisor);
    dbYes->setDataSource(dsUserPref);
    dbYes->setDataField(catalogue::fSuperUser);
    auto* supervisorLayout = new QVBoxLayout(supervisor);
    supervisorLayout->addWidget(dbYes);

    BitBtn1 = new QPushButton(text("Sh&ortcuts"), this);
    OKBtn = new QPushButton(text("OK"), this);
    CancelBtn = new QPushButton(text("Cancel"), this);
    HelpBtn = new QPushButton(text("&Help"), this);
    OKBtn->setDefault(true);
    for (QPushButton* b : {BitBtn1, CancelBtn, HelpBtn, btSetAct, btClearAct})
        b->setAutoDefault(false);

    auto* counts = new QHBoxLayout;
    counts->addWidget(lblNset, 1);
    counts->addWidget(btSetAct);
    counts->addWidget(btClearAct);
    // The grid is as wide as its two columns; the list beside it takes the
    // rest of the width, so that every caption shows whole. The supervisor
    // box lies under the grid and may reach under the list: its long text
    // must not widen the grid's column.
    const int indicator = qMax(grid->verticalHeader()->sizeHint().width(), grid->verticalHeader()->minimumWidth());
    grid->setFixedWidth(grid->columnWidth(0) + grid->columnWidth(1) + indicator
                        + grid->verticalScrollBar()->sizeHint().width() + 2 * grid->frameWidth() + 2);
    supervisor->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* middle = new QGridLayout;
    middle->addWidget(grid, 0, 0, 2, 1);
    middle->addWidget(lbPerm, 0, 1);
    middle->addLayout(counts, 1, 1);
    middle->addWidget(supervisor, 2, 0, 1, 2, Qt::AlignLeft);
    middle->setColumnStretch(1, 1);
    middle->setRowStretch(0, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(BitBtn1);
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    buttons->addWidget(HelpBtn);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8); // the room goes to the captions
    layout->addWidget(lblTitle);
    layout->addLayout(middle, 1);
    layout->addLayout(buttons);

    ui::setTabChain({lbPerm, OKBtn, CancelBtn, HelpBtn, btSetAct, btClearAct, grid, BitBtn1, dbYes});

    connect(dsUserPref, &ui::DataSource::dataChange, this, ui::guardedSlot(this, &TfrmSysPerm::dsUserPrefDataChange));
    connect(lbPerm, &ui::DbCheckList::itemClick, this,
            [this](int item) { support::guarded([this, item] { lbPermClick(item); }); });
    connect(btSetAct, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmSysPerm::btSetActClick));
    connect(btClearAct, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmSysPerm::btClearActClick));
    connect(BitBtn1, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmSysPerm::BitBtn1Click));
    connect(OKBtn, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmSysPerm::OKBtnClick));
    connect(CancelBtn, &QPushButton::clicked, this, &TfrmSysPerm::reject);
    connect(HelpBtn, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmSysPerm::HelpBtnClick));

    ui::fixDialogBorder(this);
    ui::fixDialogSize(this, QSize(592, 393));
}

TfrmSysPerm::~TfrmSysPerm()
{
    // The bound controls go before the table they show.
    grid->setDataSource(nullptr);
    dsUserPref->setTable(nullptr);
}

void TfrmSysPerm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!ui::firstShowing(this, m_shown))
        return;
    lbPerm->setFocus();
    if (!support::guarded([this] { FormShow(); }))
        QMetaObject::invokeMethod(this, [this] { QDialog::reject(); }, Qt::QueuedConnection);
}

void TfrmSysPerm::FormShow()
{
    ui::BusyCursor busy;
    tblUserPref->open();
    m_run = permissions::systemRun(*tblUserPref);
    lbPerm->setRun(m_run.first, m_run.last);
    tblUserPref->findKey({userId}); // an unknown user leaves the first row
    m_loading = true;
    dsUserPrefDataChange();
}

void TfrmSysPerm::dsUserPrefDataChange()
{
    const QString who = tblUserPref->active() ? tblUserPref->fieldByName(catalogue::fWho).asString() : QString();
    lblTitle->setText(text("Global System Permissions for : %1").arg(who));
    if (tblUserPref->active())
        permissionToCheckmarks();
    updateNumberSet();
}

void TfrmSysPerm::permissionToCheckmarks()
{
    if (!m_loading)
        return;
    lbPerm->loadFromRow();
}

void TfrmSysPerm::CheckMarksToPermission(int item)
{
    // The row's change notices must not reload the list halfway; when
    // editing took a newer row, the list then shows that row with the tick.
    FlagSet guardOff(m_loading, false);
    lbPerm->setChecks(permissions::applyTick(*tblUserPref, m_run, item, lbPerm->isChecked(item)));
}

void TfrmSysPerm::updateNumberSet()
{
    const int set = lbPerm->checkedCount();
    lblNset->setText(permissions::countText(set, lbPerm->count() - set));
}

void TfrmSysPerm::lbPermClick(int item)
{
    CheckMarksToPermission(item);
    updateNumberSet();
}

void TfrmSysPerm::setAllSysActions(bool value)
{
    permissions::setAllSystemFlags(*tblUserPref, value);
    store::ChangeUnit unit(*tblUserPref);
    tblUserPref->post();
    support::journalrecord(*tblUserPref, support::ActionChanged);
    unit.commit();
}

void TfrmSysPerm::btSetActClick()
{
    ui::BusyCursor busy;
    setAllSysActions(true);
    permissionToCheckmarks();
    updateNumberSet();
}

void TfrmSysPerm::btClearActClick()
{
    ui::BusyCursor busy;
    setAllSysActions(false);
    permissionToCheckmarks();
    updateNumberSet();
}

void TfrmSysPerm::saveEditedRow()
{
    if (!tblUserPref->active() || !ui::isEditing(*tblUserPref))
        return;
    store::ChangeUnit unit(*tblUserPref);
    tblUserPref->post();
    support::journalrecord(*tblUserPref, support::ActionChanged);
    unit.commit();
}

void TfrmSysPerm::BitBtn1Click()
{
    const QString who = tblUserPref->fieldByName(catalogue::fWho).asString();
    if (!support::confirm(text("Apply the permission settings for user \"%1\" to all other users?").arg(who)))
        return;
    saveEditedRow();
    ApplyToAll(who);
}

void TfrmSysPerm::ApplyToAll(const QString& who)
{
    // Every user row gets the flags, the shown user's own included: who only
    // names the source in the progress window.
    ui::BusyCursor busy;
    {
        FlagSet guardOff(m_loading, false);
        const QVector<bool> flags = permissions::readRun(*tblUserPref, m_run);
        ClosedAfter closed(*tblU2);
        tblU2->open();
        // No Cancel: stopping half-way would leave some users with the new
        // flags and some with their old ones.
        ui::ProgressWindow progress(windowTitle(), text("users"), ui::ProgressWindow::Cancel::NotOffered, this);
        progress.begin(text("System permissions of %1 to every user").arg(who), tblU2->recordCount());
        qint64 done = 0;
        // One transaction per stretch of rows, committed often enough not to
        // keep the workstations waiting; rows saved before an error stay
        // saved and journalled.
        store::WriteBatch batch;
        for (tblU2->first(); !tblU2->eof(); tblU2->next()) {
            permissions::writeRun(*tblU2, m_run, flags);
            store::ChangeUnit unit(*tblU2);
            tblU2->post();
            support::journalrecord(*tblU2, support::ActionChanged);
            unit.commit();
            progress.advance(++done);
        }
        batch.commit();
    }
    // The shown row was written through the other cursor: read it again.
    tblUserPref->refresh();
}

void TfrmSysPerm::checkSuperUser()
{
    if (!tblUserPref->fieldByName(catalogue::fSuperUser).asBoolean())
        return;
    const QVector<bool> flags = permissions::readRun(*tblUserPref, m_run);
    if (permissions::countSet(flags) == flags.size())
        return;
    support::showWarning(permissions::sysSupervisorWarning());
}

void TfrmSysPerm::OKBtnClick()
{
    checkSuperUser();
    saveEditedRow();
    accept();
}

void TfrmSysPerm::HelpBtnClick() { support::openHelp(kHelpContext); }

void TfrmSysPerm::reject()
{
    // Cancel, Esc and the close box: the current row's unsaved changes go;
    // rows saved already stay saved.
    support::guarded([this] {
        if (tblUserPref->active())
            ui::dropPendingRow(*tblUserPref);
    });
    QDialog::reject();
}
