#include "accounts/User.h"

#include "accounts/Passwd.h"
#include "accounts/UserRows.h"
#include "store/Catalogue.h"
#include "store/Table.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "support/Text.h"
#include "ui/DataSource.h"
#include "ui/DbEdit.h"
#include "ui/DialogButtons.h"
#include "ui/DialogFrame.h"
#include "ui/GuardedSlot.h"
#include "ui/RowState.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kHelpContext = 1100;

} // namespace

TfrmUser::TfrmUser(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(support::uiText(QStringLiteral("Add/modify User")));
    dsUserPref = new ui::DataSource(this);

    const ui::DialogButtons buttons = ui::makeDialogButtons(this);
    OKBtn = buttons.ok;
    CancelBtn = buttons.cancel;
    HelpBtn = buttons.help;

    edWho = new ui::DbEdit(this);
    edWho->setDataSource(dsUserPref);
    edWho->setDataField(catalogue::fWho);
    edWho->setFieldMaxLength(3);
    edWho->setCharCase(ui::CharCase::Upper);
    edFullname = new ui::DbEdit(this);
    edFullname->setDataSource(dsUserPref);
    edFullname->setDataField(catalogue::fFullName);
    edFullname->setFieldMaxLength(20);
    btPassword = new QPushButton(support::uiText(QStringLiteral("Set password")), this);

    lblChange = new QLabel(support::uiText(QStringLiteral(
                               "You cannot change the user ID.  Only the fullname can be changed.  "
                               "To change a user ID you must delete and re-add the user ID.")),
                           this);
    lblChange->setWordWrap(true);
    lblChange->setVisible(false);

    auto* lblWho = new QLabel(support::uiText(QStringLiteral("User ID:")), this);
    auto* lblFullname = new QLabel(support::uiText(QStringLiteral("Fullname:")), this);
    lblWho->setBuddy(edWho);
    lblFullname->setBuddy(edFullname);
    // Room for the longest ID and name, in characters of the box's font.
    const int charWidth = edWho->fontMetrics().horizontalAdvance(QLatin1Char('W'));
    edWho->setFixedWidth(charWidth * 4 + 12);
    edFullname->setMinimumWidth(charWidth * 16 + 12);

    auto* fields = new QGridLayout;
    fields->addWidget(lblWho, 0, 0);
    fields->addWidget(edWho, 0, 1, Qt::AlignLeft);
    fields->addWidget(lblFullname, 1, 0);
    fields->addWidget(edFullname, 1, 1);
    fields->addWidget(btPassword, 2, 1, Qt::AlignLeft);
    auto* left = new QVBoxLayout;
    left->addLayout(fields);
    left->addWidget(lblChange);
    left->addStretch();
    lblChange->setFixedWidth(charWidth * 22);
    ui::layOutBesideButtons(this, left, buttons);

    // OK answers Enter (it is the default button); the password button does
    // so only while it has the focus.
    btPassword->setAutoDefault(true);

    ui::setTabChain({OKBtn, CancelBtn, HelpBtn, edWho, edFullname, btPassword});

    connect(OKBtn, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmUser::OKBtnClick));
    connect(CancelBtn, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmUser::CancelBtnClick));
    connect(HelpBtn, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmUser::HelpBtnClick));
    connect(btPassword, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmUser::btPasswordClick));

    ui::fixDialogBorder(this);
}

void TfrmUser::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    ui::centreOnScreen(this);
    if (edWho->isReadOnly()) {
        // Modify: the ID is shown but cannot be reached or changed.
        QPalette pal = edWho->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::Button));
        edWho->setPalette(pal);
        edWho->setFocusPolicy(Qt::NoFocus);
        lblChange->setVisible(true);
        edFullname->setFocus();
    } else {
        edWho->setFocus();
    }
}

void TfrmUser::keyPressEvent(QKeyEvent* event)
{
    // Escape is the Cancel button. The close box only closes: the opener
    // deals with a row left in insert or edit state.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        CancelBtn->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmUser::OKBtnClick()
{
    setResult(0);
    store::Table* table = dsUserPref->table();
    if (!table)
        return;
    const QString problem = accounts::userIdProblem(table->fieldByName(catalogue::fWho).asString());
    if (!problem.isEmpty()) {
        support::showError(problem);
        edWho->setFocus();
        return;
    }
    ui::startEditing(*table);
    try {
        accounts::saveUserRow(*table);
    } catch (const std::exception& error) {
        support::showError(accounts::userIdInUseMessage(), error);
        edWho->setFocus();
        return;
    }
    accept();
}

void TfrmUser::CancelBtnClick()
{
    if (store::Table* table = dsUserPref->table())
        ui::dropPendingRow(*table);
    reject();
}

void TfrmUser::btPasswordClick()
{
    TfrmPassword dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    store::Table* table = dsUserPref->table();
    if (!table)
        return;
    ui::startEditing(*table);
    table->fieldByName(catalogue::fPassword).setAsString(dialog.NewPassword);
}

void TfrmUser::HelpBtnClick() { support::openHelp(kHelpContext); }
