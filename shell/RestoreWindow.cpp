#include "shell/RestoreWindow.h"

#include "support/ErrorBox.h"
#include "support/Help.h"
#include "support/Messages.h"
#include "support/Text.h"
#include "ui/BusyCursor.h"
#include "ui/DialogFrame.h"
#include "ui/GuardedSlot.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTreeWidget>
#include <QVBoxLayout>


namespace {

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

} // namespace

TfrmRestore::TfrmRestore(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(text("Restore from Backup"));

    cbFolder = new QComboBox(this);
    auto* lblFolder = new QLabel(text("&Backup:"), this);
    lblFolder->setBuddy(cbFolder);
    lblProblem = new QLabel(this);
    lblProblem->setWordWrap(true);
    lblProblem->setVisible(false);

    lbUsers = new QListWidget(this);
    auto* lblUsers = new QLabel(text("&Users of the backup:"), this);
    lblUsers->setBuddy(lbUsers);

    tvCompare = new QTreeWidget(this);
    tvCompare->setColumnCount(3);
    tvCompare->setHeaderLabels({text("Item"), text("Backup"), text("Now")});
    tvCompare->setRootIsDecorated(true);
    tvCompare->setUniformRowHeights(true);
    // The captions as wide as they need; the two sides share the rest.
    tvCompare->header()->setStretchLastSection(false);
    tvCompare->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    tvCompare->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    tvCompare->header()->setSectionResizeMode(2, QHeaderView::Stretch);
    tvCompare->setMinimumSize(640, 400);
    cbDifferencesOnly = new QCheckBox(text("&Show differences only"), this);
    cbDifferencesOnly->setChecked(true);
    lblLeftOut = new QLabel(this);
    lblLeftOut->setWordWrap(true);

    btRestore = new QPushButton(text("&Restore"), this);
    btClose = new QPushButton(text("Close"), this);
    btHelp = new QPushButton(text("&Help"), this);
    btRestore->setEnabled(false);

    auto* top = new QHBoxLayout;
    top->addWidget(lblFolder);
    top->addWidget(cbFolder, 1);
    auto* left = new QVBoxLayout;
    left->addWidget(lblUsers);
    left->addWidget(lbUsers, 1);
    auto* right = new QVBoxLayout;
    right->addWidget(tvCompare, 1);
    right->addWidget(cbDifferencesOnly);
    right->addWidget(lblLeftOut);
    auto* body = new QHBoxLayout;
    body->addLayout(left);
    body->addLayout(right, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* b : {btRestore, btClose, btHelp})
        buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(lblProblem);
    layout->addLayout(body, 1);
    layout->addLayout(buttons);
    ui::setTabChain({cbFolder, lbUsers, tvCompare, cbDifferencesOnly, btRestore, btClose, btHelp});

    connect(cbFolder, &QComboBox::currentIndexChanged, this, ui::guardedSlot(this, &TfrmRestore::cbFolderChange));
    connect(lbUsers, &QListWidget::currentRowChanged, this, ui::guardedSlot(this, &TfrmRestore::lbUsersClick));
    connect(cbDifferencesOnly, &QCheckBox::toggled, this, ui::guardedSlot(this, &TfrmRestore::showCompare));
    connect(btRestore, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmRestore::btRestoreClick));
    connect(btClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(btHelp, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmRestore::btHelpClick));
}

TfrmRestore::~TfrmRestore() = default;

void TfrmRestore::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    support::guarded([this] { FormShow(); });
}

void TfrmRestore::FormShow()
{
    readFolders(QString());
    // The folder written last is the likelier choice.
    int latest = -1;
    for (int i = 0; i < m_folders.size(); ++i)
        if (m_folders[i].exists && (latest < 0 || m_folders[i].written > m_folders[latest].written))
            latest = i;
    if (latest >= 0)
        cbFolder->setCurrentIndex(latest);
}

// Reads both folders again and shows the chosen one, keeping the user.
void TfrmRestore::readFolders(const QString& keepWho)
{
    ui::BusyCursor busy;
    m_folders = shell::listBackups();
    QScopedValueRollback<bool> filling(m_filling, true); // the lists' signals are the window's own
    const int index = std::max(0, cbFolder->currentIndex());
    cbFolder->clear();
    for (const shell::BackupFolder& folder : m_folders) {
        const QString name = QDir(folder.path).dirName();
        cbFolder->addItem(folder.exists ? text("%1 - written %2")
                                              .arg(name, folder.written.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                                        : text("%1 - no backup").arg(name));
    }
    cbFolder->setCurrentIndex(index);
    showUsers(keepWho);
}

void TfrmRestore::cbFolderChange()
{
    if (!m_filling)
        showUsers(QString());
}

void TfrmRestore::showUsers(const QString& keepWho)
{
    QScopedValueRollback<bool> filling(m_filling, true); // the lists' signals are the window's own
    lbUsers->clear();
    m_restore.reset();
    const int index = cbFolder->currentIndex();
    const shell::BackupFolder* folder = index >= 0 && index < m_folders.size() ? &m_folders[index] : nullptr;
    lblProblem->setText(!folder ? QString()
                        : folder->detail.isEmpty() ? folder->problem
                                                   : folder->problem + QLatin1Char('\n') + folder->detail);
    lblProblem->setVisible(folder && !folder->problem.isEmpty());
    int keep = -1;
    if (folder) {
        for (const shell::BackupUser& user : folder->users) {
            const QString status = shell::statusText(user.status);
            auto* item = new QListWidgetItem(user.who + QLatin1Char(' ') + user.fullName
                                                 + (status.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(status)),
                                             lbUsers);
            item->setData(Qt::UserRole, user.who);
            if (user.status != shell::UserStatus::Same) {
                QFont font = item->font();
                font.setBold(true);
                item->setFont(font);
            }
            if (user.who == keepWho)
                keep = lbUsers->count() - 1;
        }
    }
    lbUsers->setMinimumWidth(std::max(220, lbUsers->sizeHintForColumn(0) + 2 * lbUsers->frameWidth() + 8));
    if (keep >= 0)
        lbUsers->setCurrentRow(keep);
    loadUser();
}

QString TfrmRestore::currentWho() const
{
    const QListWidgetItem* item = lbUsers->currentItem();
    return item ? item->data(Qt::UserRole).toString() : QString();
}

void TfrmRestore::lbUsersClick()
{
    if (!m_filling)
        loadUser();
}

// Reads the chosen user's rows from the backup and the tables.
void TfrmRestore::loadUser()
{
    m_restore.reset();
    const QString who = currentWho();
    if (!who.isEmpty()) {
        try {
            ui::BusyCursor busy;
            m_restore = std::make_unique<shell::UserRestore>(m_folders[cbFolder->currentIndex()].number, who);
        } catch (const shell::RestoreError& e) {
            showCompare();
            support::showError(e.message, e.detail);
            return;
        }
    }
    showCompare();
}

// The two sides of the chosen user, one section per row, the lines that
// differ in bold.
void TfrmRestore::showCompare()
{
    tvCompare->clear();
    lblLeftOut->clear();
    btRestore->setEnabled(false);
    if (!m_restore)
        return;
    const shell::RestoreResult plan = m_restore->plan();
    btRestore->setEnabled(!plan.rows.isEmpty());
    if (!plan.leftOut.isEmpty())
        lblLeftOut->setText(text("Left out, since these databases no longer exist: %1")
                                .arg(plan.leftOut.join(QStringLiteral(", "))));
    const bool differencesOnly = cbDifferencesOnly->isChecked();
    QTreeWidgetItem* section = nullptr;
    for (const shell::CompareLine& line : m_restore->compare()) {
        if (!section || section->text(0) != line.section) {
            section = new QTreeWidgetItem(tvCompare, {line.section});
            section->setFirstColumnSpanned(true);
        }
        if (differencesOnly && !line.differs)
            continue;
        auto* item = new QTreeWidgetItem(section, {line.item, line.backup, line.now});
        if (line.differs) {
            QFont font = item->font(0);
            font.setBold(true);
            for (int c = 0; c < 3; ++c)
                item->setFont(c, font);
        }
    }
    for (int i = tvCompare->topLevelItemCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* top = tvCompare->topLevelItem(i);
        if (top->childCount() == 0)
            top->setText(0, top->text(0) + text(" - no differences"));
        top->setExpanded(true);
    }
}

void TfrmRestore::btRestoreClick()
{
    if (!m_restore)
        return;
    const QString who = m_restore->who();
    const shell::RestoreResult plan = m_restore->plan();
    // A full name that changed since is said first: the ID may be somebody
    // else's now.
    const QString warning = m_restore->otherPersonWarning();
    const QString question = text("Restore user \"%1\" from the backup?").arg(who);
    if (!support::confirm(warning.isEmpty() ? question : warning + QStringLiteral("  ") + question,
                          support::BoxKind::Question, plan.lines().join(QLatin1Char('\n'))))
        return;
    try {
        ui::BusyCursor busy;
        const shell::RestoreResult done = m_restore->restore();
        support::showInfo(text("User \"%1\" was restored.").arg(who) + QLatin1Char('\n')
                          + done.lines().join(QLatin1Char('\n')));
    } catch (const shell::RestoreError& e) {
        support::showError(e.message, e.detail);
    }
    // The list and the two sides as the tables are now.
    readFolders(who);
}

void TfrmRestore::btHelpClick() { support::openHelp(kHelpContext); }
