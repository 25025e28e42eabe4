#pragma once

#include "store/Table.h"

#include <QMainWindow>

class QAction;
class QLabel;
class QPushButton;

namespace ui { class DataSource; class DbGrid; }

// The program's only permanent window: the list of users with every command
// of the utility as a button and a menu item. It owns the table objects the
// commands share; closing it runs the exit clean-up and backup.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    // programDir is where the help file lies (the program's directory when
    // empty).
    explicit TfrmMain(const QString& programDir = QString(), QWidget* parent = nullptr);
    ~TfrmMain() override;

    store::Table tblUserPref;
    store::Table tblContact;
    store::Table tblDatabase;
    store::Table tblUserDB;
    store::Table tblPerm;
    store::Table tblHoliday;
    store::Table tblInOut;
    store::Table tblMarks;
    store::Table tblUsersOn;

    ui::DataSource* dsUserPref;
    ui::DbGrid* grid;
    QLabel* lblHeading;

    QPushButton* btAdd;
    QPushButton* btDelete;
    QPushButton* btModify;
    QPushButton* btReplace;
    QPushButton* btCopy;
    QPushButton* btPermission;
    QPushButton* btForce;
    QPushButton* btHelp;
    QPushButton* btClose;

    QAction* Exit1;
    QAction* AddUser1;
    QAction* DeleteUser1;
    QAction* ModifyUser1;
    QAction* ReplaceUsers1;
    QAction* CopySettings1;
    QAction* Permissions1;
    QAction* ForceUsersOff1;
    QAction* RestoreFromBackup1;
    QAction* Help1;

    void FormCreate();
    void FormShow();
    // The exit clean-up and backup; false (after the error box) when an
    // error stopped them, and the window then stays open.
    bool FormClose();
    void TurnOffButtons();
    bool IsContactTableInUse(QString* reason = nullptr); // reason: the store's words when in use

    void btAddClick();
    void btDeleteClick();
    void btModifyClick();
    void btReplaceClick();
    void btCopyClick();
    void btPermissionClick();
    void ForceUsersOff1Click();
    void RestoreFromBackup1Click();
    void btHelpClick();
    void Help1Click();
    void btCloseClick();

    void tblUserDBNewRecord(store::Table& table);
    void tblPermBeforePost(store::Table& table);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWindow();
    void connectCommand(QPushButton* button, QAction* action, void (TfrmMain::*command)());
    void releaseContactTable();

    QString m_programDir;
    bool m_shown = false;
};
