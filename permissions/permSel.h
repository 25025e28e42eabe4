#pragma once

// The permission kind chooser: explains the two kinds of permission and opens
// the system or the database permissions dialog for one user, as often as
// the supervisor likes, until it is closed.

#include <QDialog>

class QLabel;
class QPushButton;

namespace store { class Table; }

// The opener sets Who, FullName and userTable (its user table, positioned on
// the user; the database permissions dialog walks and repositions it) and
// shows the chooser with exec().
class TfrmSelectPermission : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSelectPermission(QWidget* parent = nullptr);

    QString Who;
    QString FullName;
    store::Table* userTable = nullptr;

    QLabel* lblTitle;
    QPushButton* btGlobal;
    QPushButton* btDatabase;
    QPushButton* Button1;
    QPushButton* HelpBtn;

    void btGlobalClick();
    void btDatabaseClick();
    void HelpBtnClick();

protected:
    void showEvent(QShowEvent* event) override;
};
