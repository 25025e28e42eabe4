#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace ui { class DataSource; class DbEdit; }

// Adds a user or changes an existing user's full name and password. The
// dialog edits the current row of the opener's user table in place: the
// opener binds dsUserPref to that table and puts the row into insert (add) or
// edit (modify, with edWho read-only) state before showing the dialog. OK
// checks the user ID, saves the row and journals it; Cancel drops it.
class TfrmUser : public QDialog {
    Q_OBJECT
public:
    explicit TfrmUser(QWidget* parent = nullptr);

    ui::DataSource* dsUserPref;

    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    QPushButton* HelpBtn;
    ui::DbEdit* edWho;
    ui::DbEdit* edFullname;
    QPushButton* btPassword;
    QLabel* lblChange;

    void OKBtnClick();
    void CancelBtnClick();
    void btPasswordClick();
    void HelpBtnClick();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};
