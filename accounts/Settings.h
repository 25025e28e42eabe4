#pragma once

#include "store/Table.h"

#include <QDialog>
#include <QList>

class QCheckBox;
class QComboBox;
class QPlainTextEdit;
class QPushButton;

// Copies chosen groups of preferences, and the permission flags, from one
// user to another. Each OK makes one copy and reports it; the dialog stays
// open until Cancel. The copy itself is in CopySettings.
class TfrmSettings : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSettings(QWidget* parent = nullptr);

    store::Table tblUserPref; // fills the two lists
    store::Table tblUserFrom; // the source user's row
    store::Table tblUserTo;   // the target user's row, edited

    QComboBox* cbFrom;
    QComboBox* cbTo;
    QCheckBox* cbPhone;
    QCheckBox* cbDataEntry;
    QCheckBox* cbWordProc;
    QCheckBox* cbEnvelope;
    QCheckBox* cbReportFont;
    QCheckBox* cbAlarm;
    QCheckBox* cbPermissions;
    QCheckBox* cbWinFax;
    QCheckBox* cbCoStar;
    QCheckBox* cbEmail;
    QCheckBox* cbDuplicates;
    QCheckBox* cbAll;
    QPlainTextEdit* memoReturnAddress; // invisible: the source's return address
    QPushButton* btOK;
    QPushButton* btCancel;
    QPushButton* btHelp;

    void FormShow();
    void btOKClick();
    void btHelpClick();
    bool copyfields();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QList<QCheckBox*> groupBoxes() const; // in the order of accounts::preferenceGroups()
    bool m_shown = false;
};
