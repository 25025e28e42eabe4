#pragma once

// The database permissions dialog: one user's permission rows (PERM.DB), one
// database at a time. Opening it creates or completes the rows of every
// (database, user) pair.

#include "store/Table.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace ui {
class DataSource;
class DbCheckBox;
class DbCheckList;
class DbGrid;
class HidePanel;
class Notebook;
}

// The opener gives the main window's user table (positioned on the user),
// sets userId and the caption, and shows the dialog with exec().
class TfrmPerm : public QDialog {
    Q_OBJECT
public:
    explicit TfrmPerm(store::Table& userTable, QWidget* parent = nullptr);
    ~TfrmPerm() override;

    QString userId;
    int firstAction = -1;
    int lastAction = -1;

    store::Table& tblUserPref; // the main window's
    store::Table tblDatabase;
    store::Table tblPerm;
    ui::DataSource* dsDatabase;
    ui::DataSource* dsPerm;

    QLabel* lblTitle;
    QLabel* lblDB;
    ui::DbGrid* grDatabase;
    ui::Notebook* nbook;
    QWidget* DatePage;
    QWidget* VisiblePage;
    QWidget* ActionsPage;

    ui::DbCheckBox* cbAccess;
    QWidget* pnlKinds; // what the hide panel covers
    ui::HidePanel* pnlHide;
    QList<ui::DbCheckBox*> kindBoxes; // the 31 record-kind boxes (no CVisible)
    QList<ui::DbCheckBox*> tabBoxes;  // the 13 tab boxes
    QPushButton* btSetData;
    QPushButton* btClearData;
    QPushButton* btSetAllTab;
    QPushButton* btClrAllTab;
    ui::DbCheckList* lbPerm;
    QLabel* lblNset;
    QPushButton* btSetAct;
    QPushButton* btClearAct;

    QPushButton* Shortcuts;
    QPushButton* btBrowse;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    QPushButton* HelpBtn;

    void FormShow();
    void InitializeAllUsers();
    void dsDatabaseDataChange();
    void cbAccessClick();
    void lbPermClick(int item);
    void setAllDB(bool value);
    void setAllTabs(bool value);
    void setAllActions(bool value);
    void permissionToCheckmarks();
    // Applies the tick of one item to the row as it is now.
    void CheckMarksToPermission(int item);
    void updateNumberSet();
    void checkDBSuperUser();
    void OKBtnClick();
    void CancelBtnClick();
    void btBrowseClick();
    void ShortcutsClick();
    void HelpBtnClick();

    // True once opening has run to its end.
    bool opened() const { return m_opened; }

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildWindow();
    QWidget* buildDataPage();
    QWidget* buildTabsPage();
    QWidget* buildActionsPage();
    // The hide panel and the two other pages follow Access.
    void showAccessState();
    // Positions tblPerm on (current database, user). A pair whose row
    // another program removed gets a new one while its database and user
    // both still exist; a database that went is dropped by re-reading the
    // grid, and a user that went is told. False when not positioned.
    bool positionPermRow();
    // Saves and journals the pending permission and user rows, before a
    // window of its own writes the same tables.
    void savePendingRows();
    // After a window of its own wrote the permission table.
    void rereadPermissions();
    // Opens the permission browser modally.
    void openPermissionBrowser();

    bool m_shown = false;
    bool m_opened = false;
};
