#include "permissions/shortcut.h"

#include "store/ChangeUnit.h"
#include "store/Catalogue.h"
#include "support/Changes.h"
#include "support/Messages.h"
#include "support/Text.h"
#include "ui/BusyCursor.h"
#include "ui/DialogFrame.h"
#include "ui/GuardedSlot.h"
#include "ui/TitleLabel.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

} // namespace

TfrmShortCut::TfrmShortCut(QWidget* parent)
    : QDialog(parent), tblPerm1(catalogue::kAlias, catalogue::kPerm), tblPerm2(catalogue::kAlias, catalogue::kPerm)
{
    setWindowTitle(text("Permission Short Cut"));
    lblTitle = ui::makeTitleLabel(QString(), this);
    lblUsers = new QLabel(text("Apply the current user's setting to ALL databases for this user."), this);
    btUsers = new QPushButton(this);
    lblAllUsers = new QLabel(text("Apply the setting for this user/database to ALL users of this database."), this);
    btAllUsers = new QPushButton(this);
    btClose = new QPushButton(text("Close"), this);
    for (QLabel* l : {lblUsers, lblAllUsers})
        l->setWordWrap(true);

    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch();
    closeRow->addWidget(btClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblTitle);
    layout->addSpacing(12);
    layout->addWidget(lblUsers);
    layout->addWidget(btUsers, 0, Qt::AlignLeft);
    layout->addSpacing(12);
    layout->addWidget(lblAllUsers);
    layout->addWidget(btAllUsers, 0, Qt::AlignLeft);
    layout->addStretch();
    layout->addLayout(closeRow);

    connect(btUsers, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmShortCut::btUsersClick));
    connect(btAllUsers, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmShortCut::btAllUsersClick));
    connect(btClose, &QPushButton::clicked, this, &QDialog::reject); // Esc closes too
    ui::fixDialogBorder(this);
    ui::fixDialogSize(this, QSize(440, 282));
}

void TfrmShortCut::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormShow();
    ui::centreOnScreen(this);
}

void TfrmShortCut::FormShow()
{
    lblTitle->setText(text("Current user: %1 Database: %2").arg(userId, database));
    btUsers->setText(text("All &databases for user %1").arg(userId));
    btAllUsers->setText(text("All &users in database %1").arg(database));
}

void TfrmShortCut::btUsersClick() { copyToRowsWhere(catalogue::fWho, userId); }

void TfrmShortCut::btAllUsersClick() { copyToRowsWhere(catalogue::fDb, database); }

void TfrmShortCut::copyToRowsWhere(const QString& fieldName, const QString& value)
{
    if (!support::confirm(text("Are you sure?"), support::BoxKind::Question))
        return;
    {
        ui::BusyCursor busy;
        if (!tblPerm1.active())
            tblPerm1.open();
        if (!tblPerm2.active())
            tblPerm2.open();
        if (!tblPerm1.findKey({database, userId})) {
            support::showErrorQuiet(text("Could not position the database!  Operation aborted."));
            return;
        }
        // Each row is saved and journalled on its own: an error part-way
        // leaves the rows before it written and journalled.
        store::Field& match = tblPerm2.fieldByName(fieldName);
        for (tblPerm2.first(); !tblPerm2.eof(); tblPerm2.next()) {
            if (match.asString() == value)
                AssignPermissions();
        }
    }
    support::showInfo(text("Completed"));
}

void TfrmShortCut::AssignPermissions()
{
    tblPerm2.edit();
    for (int i = 0; i < tblPerm2.fieldCount(); ++i) {
        store::Field& target = tblPerm2.field(i);
        if (target.dataType() == store::FieldType::Boolean)
            target.setAsBoolean(tblPerm1.field(i).asBoolean());
    }
    try {
        store::ChangeUnit unit(tblPerm2);
        tblPerm2.post();
        support::journalrecord(tblPerm2, support::ActionChanged);
        unit.commit();
    } catch (...) {
        tblPerm2.cancel(); // the walk ends; the row keeps its stored values
        throw;
    }
}
