#pragma once

#include "accounts/ReplaceWalk.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Hands the data rows of one user ID over to another: the Who of every
// matching row of the ticked tables is replaced, each change journalled.
// Before the question the supervisor sees how many rows each table will
// change. The walks themselves are in ReplaceWalk.
class TfrmReplace : public QDialog {
    Q_OBJECT
public:
    explicit TfrmReplace(QWidget* parent = nullptr);

    QLineEdit* edWho;       // the source ID, up to three capitals
    QComboBox* cbTarget;    // the target, one of the existing users
    QCheckBox* cbContacts;
    QCheckBox* cbEventsNotDone;
    QCheckBox* cbEventsDone;
    QCheckBox* cbMarketing;
    QCheckBox* cbHoliday;
    QPushButton* btOK;
    QPushButton* btCancel;
    QPushButton* btHelp;
    QLabel* lblStatus;      // the progress line along the bottom

    void FormShow();
    void cbContactsClick();
    void btOKClick();
    void btHelpClick();

    accounts::ReplaceChoice choice() const;
    bool running() const { return m_running; }

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    friend class ReplaceRunning;
    bool m_shown = false;
    bool m_running = false;
    bool m_closeRequested = false; // the window was asked to close during a replace
};
