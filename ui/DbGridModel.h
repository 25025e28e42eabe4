#pragma once

#include "store/Table.h"
#include "ui/GridColumn.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QPointer>
#include <functional>
#include <memory>

namespace ui {

class DataSource;

// The rows of a data source's table for a grid: one line per row that shows
// in the table, in key order, with the table's current row read from the live
// row buffer so that a row being edited shows its new values at once. A row
// in insert state shows as an extra line where the table's current row was.
//
// Lines are read on demand through a second cursor on the same table and
// filter, a few hundred at a time, as the view scrolls towards the end
// (canFetchMore/fetchMore): a grid over a large table shows its first lines
// without reading every row. A reload reads at least as many lines as were
// shown, and always reaches the table's current row.
class DbGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit DbGridModel(QObject* parent = nullptr);

    void setDataSource(DataSource* source);
    DataSource* dataSource() const;
    void setColumns(const QList<GridColumn>& columns);
    const QList<GridColumn>& columns() const;
    void setReadOnly(bool readOnly); // read-only unless cleared
    bool readOnly() const;

    // Background of a cell that is not highlighted; an invalid colour keeps
    // the grid's own.
    using CellColour = std::function<QColor(int row, const GridColumn& column)>;
    void setCellColour(CellColour colour);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

    bool isCheckColumn(int column) const;
    // The line that stands for the table's current row, -1 when none.
    int currentRow() const;
    qint64 rowIdAt(int row) const;
    bool isInsertRow(int row) const;
    // Makes the table's current row the one of this line. A row being edited
    // is saved first: by the row saver when there is one, else by the table
    // itself on the move. Raises the store's errors.
    void moveTableTo(int row);
    using RowSaver = std::function<void(store::Table&)>;
    void setRowSaver(RowSaver saver);

    // Reads the rows again.
    void reload();

    // Lines read per step of on-demand reading.
    static constexpr int kFetchStep = 256;

signals:
    // The line of the table's current row changed (after a move or a reload).
    void currentRowChanged(int row);

private:
    void resolveColumns();
    void onDataSetChange();
    void onRowChange();
    void onDataChange(int fieldIndex);
    void onStateChange();
    void updateCurrent();
    void openReader();
    // Reads up to count more lines from the reader; returns how many came.
    int readLines(int count, QVector<store::RowSnapshot>& into);
    int lineOf(qint64 rowId) const;
    bool fetchUntilFound(qint64 rowId);
    QVariant valueAt(int row, int column) const;
    store::Table* table() const;

    QPointer<DataSource> m_source;
    QList<GridColumn> m_columns;
    QVector<int> m_fieldIndex; // per column, -1 when the field is unknown
    QVector<bool> m_boolean;
    QVector<store::RowSnapshot> m_rows;
    std::unique_ptr<store::Table> m_reader; // reads the lines not read yet
    bool m_readerStarted = false;           // its cursor is on a row already shown
    int m_insertRow = -1;
    int m_current = -1;
    qint64 m_lastRowId = 0; // the last row that was current, for a new row's line
    store::TableState m_state = store::TableState::Inactive;
    bool m_readOnly = true;
    CellColour m_colour;
    RowSaver m_saver;
};

} // namespace ui
