#pragma once

#include "permissions/PermModel.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace store { class Table; }
namespace ui { class DataSource; class DbCheckBox; class DbCheckList; class DbGrid; }

// The system permissions of one user: the 49 system flags of the user's row
// in USERPREF.DB and the supervisor flag. The dialog lists every user in a
// grid and shows the flags of the current one in a check list; "Sh&ortcuts"
// copies them to every user (ApplyToAll).
//
// The opener sets userId (the user shown first) and runs exec(). Saves of an
// edited row, whether by OK, by moving to another user in the grid, by
// "&Set all"/"&Clear all" or before the copy, are journalled with action 6.
// Cancel drops only the unsaved changes of the current row.
class TfrmSysPerm : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSysPerm(QWidget* parent = nullptr);
    ~TfrmSysPerm() override;

    QString userId;

    store::Table* tblUserPref; // the dialog's cursor: its row is the user shown
    store::Table* tblU2;       // walks every user for the copy
    ui::DataSource* dsUserPref;
    QLabel* lblTitle;
    ui::DbGrid* grid;
    ui::DbCheckList* lbPerm;
    QLabel* lblNset;
    QPushButton* btSetAct;
    QPushButton* btClearAct;
    ui::DbCheckBox* dbYes;
    QPushButton* BitBtn1;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    QPushButton* HelpBtn;

    void FormShow();
    void dsUserPrefDataChange();
    void lbPermClick(int item);
    void btSetActClick();
    void btClearActClick();
    void setAllSysActions(bool value);
    void permissionToCheckmarks();
    // Applies the tick of one item to the row as it is now.
    void CheckMarksToPermission(int item);
    void updateNumberSet();
    void BitBtn1Click();
    // Copies the shown user's 49 system flags into every user row, each row
    // saved and journalled; SuperUser and the other fields stay.
    void ApplyToAll(const QString& who);
    void checkSuperUser();
    void OKBtnClick();
    void HelpBtnClick();

    bool loadingGuard() const { return m_loading; }

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Saves the current row if it is being edited and journals it.
    void saveEditedRow();

    // While false, loading the check list from the row does nothing.
    bool m_loading = false;
    bool m_shown = false;
    permissions::FlagRun m_run;
};
