#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

// Asks for the shared network control directory and writes it into
// NETDIR.INI in the program directory.
class NetDirDialog : public QDialog {
    Q_OBJECT
public:
    explicit NetDirDialog(const QString& programDir, QWidget* parent = nullptr);

    QLineEdit* edNetDir;
    QPushButton* btBrowse;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;

    void btBrowseClick();
    void OKBtnClick();

private:
    QString m_programDir;
};
