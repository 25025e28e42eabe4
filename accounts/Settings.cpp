#include "accounts/Settings.h"

#include "accounts/CopySettings.h"
#include "store/Catalogue.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "support/Text.h"
#include "ui/BusyCursor.h"
#include "ui/DialogButtons.h"
#include "ui/DialogFrame.h"
#include "ui/GuardedSlot.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kHelpContext = 1300;

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

} // namespace

TfrmSettings::TfrmSettings(QWidget* parent)
    : QDialog(parent),
      tblUserPref(catalogue::kAlias, catalogue::kUserPref),
      tblUserFrom(catalogue::kAlias, catalogue::kUserPref),
      tblUserTo(catalogue::kAlias, catalogue::kUserPref)
{
    setWindowTitle(text("Copy Settings"));

    auto* group = new QGroupBox(text("Copy settings from one user to another"), this);
    cbFrom = new QComboBox(group);
    cbTo = new QComboBox(group);
    auto* lblFrom = new QLabel(text("From User:"), group);
    auto* lblTo = new QLabel(text("To User:"), group);
    lblFrom->setBuddy(cbFrom);
    lblTo->setBuddy(cbTo);

    const QList<accounts::CopyGroup>& groups = accounts::preferenceGroups();
    auto box = [&](const QString& caption) { return new QCheckBox(caption, group); };
    cbPhone = box(groups[0].caption);
    cbDataEntry = box(groups[1].caption);
    cbWordProc = box(groups[2].caption);
    cbEnvelope = box(groups[3].caption);
    cbReportFont = box(groups[4].caption);
    cbAlarm = box(groups[5].caption);
    cbPermissions = box(text("Permissions"));
    cbWinFax = box(groups[6].caption);
    cbCoStar = box(groups[7].caption);
    cbEmail = box(groups[8].caption);
    cbDuplicates = box(groups[9].caption);
    cbAll = box(text("All of the above"));

    memoReturnAddress = new QPlainTextEdit(this);
    memoReturnAddress->setLineWrapMode(QPlainTextEdit::NoWrap);
    memoReturnAddress->setVisible(false);

    auto* grid = new QGridLayout(group);
    grid->addWidget(lblFrom, 0, 0);
    grid->addWidget(cbFrom, 0, 1);
    grid->addWidget(lblTo, 1, 0);
    grid->addWidget(cbTo, 1, 1);
    const QList<QCheckBox*> left = {cbPhone, cbDataEntry, cbWordProc, cbEnvelope, cbReportFont, cbAlarm};
    const QList<QCheckBox*> right = {cbPermissions, cbWinFax, cbCoStar, cbEmail, cbDuplicates, cbAll};
    for (int row = 0; row < left.size(); ++row) {
        grid->addWidget(left[row], row + 2, 0);
        grid->addWidget(right[row], row + 2, 1);
    }

    const ui::DialogButtons buttons = ui::makeDialogButtons(this);
    btOK = buttons.ok;
    btCancel = buttons.cancel;
    btHelp = buttons.help;
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(btOK);
    row->addWidget(btCancel);
    row->addWidget(btHelp);
    auto* top = new QVBoxLayout(this);
    top->addWidget(group);
    top->addLayout(row);

    ui::setTabChain({btOK, btCancel, btHelp, cbFrom, cbTo, cbPhone, cbDataEntry, cbWordProc, cbEnvelope, cbReportFont,
                     cbAlarm, cbPermissions, cbWinFax, cbCoStar, cbEmail, cbDuplicates, cbAll});

    connect(btOK, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmSettings::btOKClick));
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btHelp, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmSettings::btHelpClick));

    ui::fixDialogBorder(this);
}

QList<QCheckBox*> TfrmSettings::groupBoxes() const
{
    return {cbPhone, cbDataEntry, cbWordProc, cbEnvelope, cbReportFont, cbAlarm, cbWinFax, cbCoStar, cbEmail,
            cbDuplicates};
}

void TfrmSettings::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Only the first showing opens the dialog; a window restored from the
    // task bar keeps the supervisor's choices.
    if (!ui::firstShowing(this, m_shown))
        return;
    support::guarded([this] { FormShow(); });
    btOK->setFocus();
}

void TfrmSettings::FormShow()
{
    if (!tblUserFrom.active())
        tblUserFrom.open();
    if (!tblUserTo.active())
        tblUserTo.open();
    cbFrom->clear();
    cbTo->clear();
    tblUserPref.open();
    store::Field& who = tblUserPref.fieldByName(catalogue::fWho);
    for (tblUserPref.first(); !tblUserPref.eof(); tblUserPref.next()) {
        cbFrom->addItem(who.asString());
        cbTo->addItem(who.asString());
    }
    tblUserPref.close();
    if (cbFrom->count() > 1) {
        cbFrom->setCurrentIndex(0);
        cbTo->setCurrentIndex(0);
        return;
    }
    for (QWidget* w : std::initializer_list<QWidget*>{btOK, cbFrom, cbTo, cbPermissions, cbAll})
        w->setEnabled(false);
    for (QCheckBox* b : groupBoxes())
        b->setEnabled(false);
}

void TfrmSettings::btOKClick()
{
    // A second click while a copy runs (the journal may be waiting and
    // processing events) is ignored; the dialog stays open either way.
    if (accounts::copyInProgress())
        return;
    if (cbFrom->currentIndex() == cbTo->currentIndex()) {
        support::showError(accounts::sameUserMessage());
        return;
    }
    if (copyfields())
        support::showInfo(accounts::copiedMessage(cbFrom->currentText(), cbTo->currentText()));
    else
        support::showInfo(accounts::nothingCopiedMessage());
}

bool TfrmSettings::copyfields()
{
    accounts::CopySelection selection;
    selection.permissions = cbPermissions->isChecked();
    selection.all = cbAll->isChecked();
    const QList<QCheckBox*> boxes = groupBoxes();
    for (int g = 0; g < boxes.size(); ++g)
        selection.groups[size_t(g)] = boxes[g]->isChecked();

    ui::BusyCursor busy;
    // The return address goes through the (invisible) memo, as it always has.
    const auto throughMemo = [this](const QString& stored) {
        memoReturnAddress->setPlainText(stored);
        return memoReturnAddress->toPlainText();
    };
    return accounts::copyUserSettings(tblUserFrom, tblUserTo, cbFrom->currentText(), cbTo->currentText(), selection,
                                      throughMemo)
        == accounts::CopyOutcome::Copied;
}

void TfrmSettings::btHelpClick() { support::openHelp(kHelpContext); }
