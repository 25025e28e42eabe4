#include "NetDirDialog.h"

#include "shell/NetDirIni.h"
#include "store/FileModes.h"
#include "support/Messages.h"
#include "support/Text.h"
#include "ui/DialogFrame.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

} // namespace

NetDirDialog::NetDirDialog(const QString& programDir, QWidget* parent)
    : QDialog(parent), m_programDir(programDir)
{
    setWindowTitle(text("Network control directory"));
    auto* intro = new QLabel(
        text("Every workstation that runs Kontiva must use the same shared network control directory. "
             "Choose a folder that all of them can reach and write to."),
        this);
    intro->setWordWrap(true);
    auto* label = new QLabel(text("&Network control directory:"), this);
    edNetDir = new QLineEdit(this);
    label->setBuddy(edNetDir);
    btBrowse = new QPushButton(text("&Browse..."), this);
    btBrowse->setAutoDefault(false);
    OKBtn = new QPushButton(text("OK"), this);
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(text("Cancel"), this);
    CancelBtn->setAutoDefault(false);

    const QString current = shell::readNetDir(programDir);
    if (shell::netDirIsSet(current))
        edNetDir->setText(current);
    edNetDir->setMinimumWidth(edNetDir->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 48);

    auto* row = new QHBoxLayout;
    row->addWidget(edNetDir, 1);
    row->addWidget(btBrowse);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(label);
    layout->addLayout(row);
    layout->addLayout(buttons);

    connect(btBrowse, &QPushButton::clicked, this, &NetDirDialog::btBrowseClick);
    connect(OKBtn, &QPushButton::clicked, this, &NetDirDialog::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    ui::fixDialogBorder(this);
}

void NetDirDialog::btBrowseClick()
{
    const QString start = edNetDir->text().isEmpty() ? QDir::homePath() : edNetDir->text();
    const QString chosen = QFileDialog::getExistingDirectory(this, text("Network control directory"), start);
    if (!chosen.isEmpty())
        edNetDir->setText(QDir::toNativeSeparators(chosen));
}

void NetDirDialog::OKBtnClick()
{
    const QString dir = edNetDir->text().trimmed();
    if (!shell::netDirIsSet(dir) || dir == QLatin1String("/")) {
        support::showError(text("Type in or choose the shared network control directory."));
        edNetDir->setFocus();
        return;
    }
    if (!QFileInfo(dir).isDir()) {
        if (!support::confirm(text("The folder %1 does not exist.  Create it?").arg(dir)))
            return;
        if (!store::makeFolder(dir)) {
            support::showError(text("Could not create the folder %1.").arg(dir));
            return;
        }
    }
    if (!shell::writeNetDir(m_programDir, dir)) {
        support::showError(text("Could not write %1.").arg(shell::netDirIniPath(m_programDir)));
        return;
    }
    accept();
}
