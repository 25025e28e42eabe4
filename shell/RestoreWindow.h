#pragma once

#include "shell/Restore.h"

#include <QDialog>
#include <QList>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTreeWidget;

// Restores one user from the exit backup: the supervisor picks a backup
// folder and a user of it, compares what the backup holds with what the
// tables hold now, and restores. The work itself is shell::UserRestore.
class TfrmRestore : public QDialog {
    Q_OBJECT
public:
    static constexpr int kHelpContext = 1800;

    explicit TfrmRestore(QWidget* parent = nullptr);
    ~TfrmRestore() override;

    QComboBox* cbFolder;
    QLabel* lblProblem;
    QListWidget* lbUsers;
    QTreeWidget* tvCompare;
    QCheckBox* cbDifferencesOnly;
    QLabel* lblLeftOut;
    QPushButton* btRestore;
    QPushButton* btClose;
    QPushButton* btHelp;

    void FormShow();
    void cbFolderChange();
    void lbUsersClick();
    void btRestoreClick();
    void btHelpClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void readFolders(const QString& keepWho);
    void showUsers(const QString& keepWho);
    void loadUser();
    void showCompare();
    QString currentWho() const;

    QList<shell::BackupFolder> m_folders;
    std::unique_ptr<shell::UserRestore> m_restore;
    bool m_shown = false;
    bool m_filling = false;
};
