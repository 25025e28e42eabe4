#pragma once

#include "ui/DbGridModel.h"
#include "ui/GridColumn.h"

#include <QTableView>
#include <functional>

namespace ui {

class DataSource;

// A grid bound to a data source: one line per row of its table, the current
// line always the table's current row (moving in the grid moves the table,
// which saves a row being edited first), whole-line selection, boolean
// fields as check boxes, column widths in characters.
//
// Read-only unless setReadOnly(false); an editable grid flips a check box
// with a click or the space bar, putting the row into edit state.
//
// Cell colours come from setCellColour; a highlighted (selected) cell is
// always drawn in the highlight colour. The first columns can be fixed: they
// stay in place when the grid scrolls sideways.
//
// A window that journals its saves gives a row saver: when the grid is about
// to leave a row being edited, it calls the saver (which saves the row and
// journals it) instead of letting the table save it silently on the move.
class DbGrid : public QTableView {
    Q_OBJECT
public:
    explicit DbGrid(QWidget* parent = nullptr);

    void setDataSource(DataSource* source);
    DataSource* dataSource() const;
    void setColumns(const QList<GridColumn>& columns);
    void setReadOnly(bool readOnly);
    bool readOnly() const;
    // A marker column on the left showing the current line and its state.
    void setRowIndicator(bool on);
    // Line height as a percentage of the normal height.
    void setRowHeightPercent(int percent);
    void setCellColour(DbGridModel::CellColour colour);
    // The first count columns stay put when the grid scrolls sideways.
    void setFixedColumns(int count);
    int fixedColumns() const;
    using RowSaver = std::function<void(store::Table&)>;
    void setRowSaver(RowSaver saver);

    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

    DbGridModel* gridModel() const;
    int currentLine() const; // -1 when the table has no current row

    // Pixels for a column of the given width in characters of this font.
    static int columnPixels(const QFontMetrics& metrics, int chars);

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void updateGeometries() override;

private:
    void applyWidths();
    void applyRowHeight();
    void showTableRow(int row);
    void applyFixedColumns();
    void placeFixedView();
    bool saveBeforeLeaving(int row);

    DbGridModel* m_model;
    bool m_syncing = false;
    int m_rowPercent = 100;
    QTableView* m_fixedView = nullptr; // drawn over the fixed columns
    int m_fixed = 0;
};

} // namespace ui
