#include "accounts/Passwd.h"

#include "support/Help.h"
#include "support/Messages.h"
#include "support/Text.h"
#include "ui/CaseValidator.h"
#include "ui/DialogButtons.h"
#include "ui/DialogFrame.h"
#include "ui/GuardedSlot.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kMaxPassword = 15;
constexpr int kHelpContext = 1500;

QLineEdit* passwordBox(QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setMaxLength(kMaxPassword);
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // one "*" per character
    edit->setValidator(new ui::CaseValidator(ui::CharCase::Lower, edit));
    return edit;
}

} // namespace

TfrmPassword::TfrmPassword(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(support::uiText(QStringLiteral("Passwords")));

    auto* frame = new QGroupBox(this);
    edPass1 = passwordBox(frame);
    edPass2 = passwordBox(frame);
    auto* lbl1 = new QLabel(support::uiText(QStringLiteral("Type in password:")), frame);
    auto* lbl2 = new QLabel(support::uiText(QStringLiteral("Repeat for confirmation")), frame);
    lbl1->setBuddy(edPass1);
    lbl2->setBuddy(edPass2);
    auto* grid = new QGridLayout(frame);
    grid->addWidget(lbl1, 0, 0);
    grid->addWidget(edPass1, 0, 1);
    grid->addWidget(lbl2, 1, 0);
    grid->addWidget(edPass2, 1, 1);

    btClear = new QPushButton(support::uiText(QStringLiteral("Clear password")), this);
    const ui::DialogButtons buttons = ui::makeDialogButtons(this);
    OKBtn = buttons.ok;
    CancelBtn = buttons.cancel;
    HelpBtn = buttons.help;

    auto* left = new QVBoxLayout;
    left->addWidget(frame);
    left->addWidget(btClear, 0, Qt::AlignLeft);
    left->addStretch();
    ui::layOutBesideButtons(this, left, buttons);

    ui::setTabChain({edPass1, edPass2, btClear, OKBtn, CancelBtn, HelpBtn});

    connect(OKBtn, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmPassword::OKBtnClick));
    connect(btClear, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmPassword::btClearClick));
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(HelpBtn, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmPassword::HelpBtnClick));

    ui::fixDialogBorder(this);
}

void TfrmPassword::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    ui::centreOnScreen(this);
    edPass1->setFocus();
}

void TfrmPassword::OKBtnClick()
{
    setResult(0);
    NewPassword.clear();
    edPass1->setText(support::trimRight(edPass1->text()));
    edPass2->setText(support::trimRight(edPass2->text()));
    if (edPass1->text().isEmpty()) {
        support::showError(support::uiText(QStringLiteral("You did not type in a password.  Press CANCEL to abort.")));
        edPass1->setFocus();
        return;
    }
    if (edPass2->text().isEmpty()) {
        support::showError(support::uiText(QStringLiteral("Confirm by repeating the password.")));
        edPass2->setFocus();
        return;
    }
    if (edPass1->text() != edPass2->text()) {
        support::showError(support::uiText(QStringLiteral("The passwords do not match.  Try again.")));
        edPass2->clear();
        edPass2->setFocus();
        return;
    }
    NewPassword = edPass1->text();
    accept();
}

void TfrmPassword::btClearClick()
{
    NewPassword.clear();
    support::showInfo(support::uiText(QStringLiteral("Password cleared")));
    accept();
}

void TfrmPassword::HelpBtnClick() { support::openHelp(kHelpContext); }
