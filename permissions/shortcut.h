#pragma once

// The permission shortcuts: copies the permission row of one (database, user)
// pair onto every database of that user, or onto every user of that database.

#include "store/Table.h"

#include <QDialog>

class QLabel;
class QPushButton;

// The opener sets database and userId and shows the dialog with exec().
class TfrmShortCut : public QDialog {
    Q_OBJECT
public:
    explicit TfrmShortCut(QWidget* parent = nullptr);

    QString userId;
    QString database;

    store::Table tblPerm1; // the row copied from
    store::Table tblPerm2; // walks the rows copied onto

    QLabel* lblTitle;
    QLabel* lblUsers;
    QLabel* lblAllUsers;
    QPushButton* btUsers;
    QPushButton* btAllUsers;
    QPushButton* btClose;

    void FormShow();
    void btUsersClick();
    void btAllUsersClick();
    // Copies every boolean field of tblPerm1's row onto tblPerm2's current
    // row, saves it and journals it.
    void AssignPermissions();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The walk both buttons share: every row whose field (WHO or DB) is
    // exactly value gets the source row's flags.
    void copyToRowsWhere(const QString& fieldName, const QString& value);
};
