#pragma once

#include "ui/GridColumn.h"

#include <QColor>
#include <QDialog>
#include <QList>
#include <QStringList>

class QComboBox;
class QLabel;
class QPushButton;
class QToolButton;

namespace store { class Table; }
namespace ui { class DataSource; class DbGrid; }

namespace permissions {

// The browser's columns: DB and WHO (fixed, never edited), Access and the 32
// record-kind flags, kind by kind.
QList<ui::GridColumn> browseColumns();
// The background of a cell by its column's field: the colour of the record
// kind named by the field's first letter; invalid (the grid's own colour) for
// DB, WHO and Access.
QColor browseCellColour(const QString& fieldName);
// The filter lines for a user and a database; an empty value adds no line.
QStringList browseFilterLines(const QString& who, const QString& db);

} // namespace permissions

// Shows PERM.DB as one colour-coded grid, one line per permission row, to
// compare and edit the access and record-kind flags of many users and
// databases at once. Two drop-down lists narrow it to one user and/or one
// database. The browser never adds or removes permission rows. Every save of
// an edited line (leaving it in the grid, narrowing, "&Set row", "&Clear row",
// closing) is journalled with action 6.
class TfrmBrowse : public QDialog {
    Q_OBJECT
public:
    explicit TfrmBrowse(QWidget* parent = nullptr);
    ~TfrmBrowse() override;

    store::Table* tblPerm;
    ui::DataSource* dsPerm;
    ui::DbGrid* grid;
    QComboBox* cbDB;
    QComboBox* cbUsers;
    QPushButton* btClose;
    QToolButton* sbSet;
    QToolButton* sbClear;
    QLabel* lblContact;
    QLabel* lblCall;
    QLabel* lblMeeting;
    QLabel* lblQuote;
    QLabel* lblnote;
    QLabel* lblLetter;
    QLabel* lblTodo;
    QLabel* lblSale;

    static constexpr const char* kAllUsers = "All users";
    static constexpr const char* kAllDatabases = "All databases";

    void FormShow();
    void cbUsersClick();
    void SetRow(bool value);
    void btCloseClick();

public slots:
    void reject() override; // Esc and the close box close like "Cl&ose"

protected:
    void showEvent(QShowEvent* event) override;

private:
    void tblPermNewRecord(store::Table& table);
    void tblPermBeforeDelete(store::Table& table);
    // Saves the line being edited, if any, and journals it.
    void saveEditedLine();
    QLabel* legendSquare(const QString& fieldLetter);
    void fillList(QComboBox* box, const QString& all, const QString& tableName, const QString& field);

    bool m_shown = false;
    bool m_filling = false;
};
