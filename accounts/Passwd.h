#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

// Asks for a user's new password twice, or clears it. The result is in
// NewPassword after an accepted dialog: lower case, no trailing blanks, the
// empty text when the password is to be cleared. Touches no table.
class TfrmPassword : public QDialog {
    Q_OBJECT
public:
    explicit TfrmPassword(QWidget* parent = nullptr);

    QString NewPassword;

    QLineEdit* edPass1;
    QLineEdit* edPass2;
    QPushButton* btClear;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    QPushButton* HelpBtn;

    void OKBtnClick();
    void btClearClick();
    void HelpBtnClick();

protected:
    void showEvent(QShowEvent* event) override;
};
