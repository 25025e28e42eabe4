#include "permissions/permSel.h"

#include "permissions/Chperm.h"
#include "permissions/permSys.h"
#include "support/Help.h"
#include "support/Text.h"
#include "ui/DialogFrame.h"
#include "ui/GuardedSlot.h"
#include "ui/TitleLabel.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kHelpContext = 1400;

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

// A sunken panel with an explanation above its button.
QFrame* panel(const QString& explanation, QPushButton* button, QWidget* parent)
{
    auto* frame = new QFrame(parent);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Sunken);
    auto* label = new QLabel(explanation, frame);
    label->setWordWrap(true);
    auto* layout = new QVBoxLayout(frame);
    layout->addWidget(label);
    layout->addWidget(button, 0, Qt::AlignLeft);
    return frame;
}

} // namespace

TfrmSelectPermission::TfrmSelectPermission(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(text("Select Permissions"));
    lblTitle = ui::makeTitleLabel(text("Select a permission"), this);
    btGlobal = new QPushButton(text("&Global System Permissions"), this);
    btDatabase = new QPushButton(text("&Database Permissions"), this);
    Button1 = new QPushButton(text("Close"), this);
    HelpBtn = new QPushButton(text("&Help"), this);
    for (QPushButton* b : {btGlobal, btDatabase, Button1, HelpBtn})
        b->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(HelpBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblTitle);
    layout->addWidget(panel(text("Global System Permissions encompass those activities that span databases such as "
                                 "sending broadcast messages or retrieving e-mail."),
                            btGlobal, this));
    layout->addWidget(panel(text("Database permissions include those activities that are specifically related to a "
                                 "particular database such as mail/merge, printing envelopes, etc."),
                            btDatabase, this));
    layout->addStretch();
    layout->addLayout(buttons);
    ui::setTabChain({btGlobal, btDatabase, Button1, HelpBtn});

    connect(btGlobal, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmSelectPermission::btGlobalClick));
    connect(btDatabase, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmSelectPermission::btDatabaseClick));
    connect(Button1, &QPushButton::clicked, this, &QDialog::reject); // Esc closes too
    connect(HelpBtn, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmSelectPermission::HelpBtnClick));
    ui::fixDialogBorder(this);
    ui::fixDialogSize(this, QSize(487, 304));
}

void TfrmSelectPermission::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    ui::centreOnScreen(this);
}

void TfrmSelectPermission::btGlobalClick()
{
    TfrmSysPerm dialog(this);
    dialog.userId = Who;
    dialog.exec();
}

void TfrmSelectPermission::btDatabaseClick()
{
    if (!userTable)
        return;
    TfrmPerm dialog(*userTable, this);
    dialog.userId = Who;
    dialog.setWindowTitle(text("Permissions for user %1").arg(Who) + QLatin1Char(' ') + FullName);
    dialog.exec();
}

void TfrmSelectPermission::HelpBtnClick() { support::openHelp(kHelpContext); }
