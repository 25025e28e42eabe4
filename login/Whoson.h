#pragma once

#include "store/Table.h"

#include <QDialog>
#include <functional>

class QAction;
class QLabel;
class QPrinter;
class QPushButton;
class QTableWidget;
class QTimer;

// Who is logged in to Kontiva at this moment: one line per log-in row with
// the user's latest database, since when, how long, how often and from which
// machine. Read-only; refreshed on show and on every tick of Timer1, whose
// interval the opener may set before showing the window.
class TfrmWhosOn : public QDialog {
    Q_OBJECT
public:
    explicit TfrmWhosOn(QWidget* parent = nullptr);
    ~TfrmWhosOn() override;

    store::Table tblUserPref;
    store::Table tblUserDB;
    store::Table tblUsersOn;

    QTableWidget* grid;
    QLabel* lblNote;
    QPushButton* btHelp;
    QPushButton* btCancel;
    QAction* Print1;
    QTimer* Timer1;

    // Asks where to print; true to go on. Shows the print dialog unless a
    // test puts its own answer here.
    std::function<bool(QPrinter&)> choosePrinter;

    void FormShow();
    void fillGridWithWho();
    void Timer1Timer();
    void Print1Click();
    void btHelpClick();

    // The whole list on the printer, portrait: the caption centred on top,
    // the date at the top left and the time at the top right of every page,
    // the grid's font, no band colours, no page numbers. The columns are
    // as wide as their texts and the page allow; a text that does not fit
    // wraps inside its cell.
    void printGrid(QPrinter& printer);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void clearGrid();
    bool m_shown = false;
};
