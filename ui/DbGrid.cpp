#include "ui/DbGrid.h"

#include "support/ErrorBox.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

namespace ui {

namespace {

// Draws check-box cells with the box centred and flips them with a click
// anywhere in the cell.
class GridDelegate : public QStyledItemDelegate {
public:
    GridDelegate(DbGridModel* model, QObject* parent) : QStyledItemDelegate(parent), m_model(model) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        if (!m_model->isCheckColumn(index.column())) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        // Background and selection first, then the box in the middle.
        opt.features &= ~QStyleOptionViewItem::HasCheckIndicator;
        opt.text.clear();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

        QStyleOptionViewItem box = option;
        box.state &= ~QStyle::State_HasFocus;
        const int w = style->pixelMetric(QStyle::PM_IndicatorWidth, &option, widget);
        const int h = style->pixelMetric(QStyle::PM_IndicatorHeight, &option, widget);
        box.rect = QRect(option.rect.x() + (option.rect.width() - w) / 2,
                         option.rect.y() + (option.rect.height() - h) / 2, w, h);
        const auto check = index.data(Qt::CheckStateRole).value<Qt::CheckState>();
        box.state |= check == Qt::Checked ? QStyle::State_On : QStyle::State_Off;
        // Read-only boxes are drawn enabled too, so that they read clearly.
        box.state |= QStyle::State_Enabled;
        style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &box, painter, widget);
    }

    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override
    {
        if (!m_model->isCheckColumn(index.column()) || !(index.flags() & Qt::ItemIsUserCheckable))
            return QStyledItemDelegate::editorEvent(event, model, option, index);
        bool flip = false;
        if (event->type() == QEvent::MouseButtonRelease) {
            const auto* me = static_cast<QMouseEvent*>(event);
            flip = me->button() == Qt::LeftButton && option.rect.contains(me->position().toPoint());
        } else if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
            // Consumed so that the view does not also act on them; the flip
            // happens on release.
            const auto* me = static_cast<QMouseEvent*>(event);
            return me->button() == Qt::LeftButton && event->type() == QEvent::MouseButtonDblClick;
        } else if (event->type() == QEvent::KeyPress) {
            const auto* ke = static_cast<QKeyEvent*>(event);
            flip = ke->key() == Qt::Key_Space || ke->key() == Qt::Key_Select;
        }
        if (!flip)
            return false;
        const auto check = index.data(Qt::CheckStateRole).value<Qt::CheckState>();
        return model->setData(index, check == Qt::Checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    }

protected:
    // A highlighted cell keeps the highlight colour whatever its own colour.
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (option->state & QStyle::State_Selected)
            option->backgroundBrush = QBrush();
    }

private:
    DbGridModel* m_model;
};

} // namespace

DbGrid::DbGrid(QWidget* parent) : QTableView(parent), m_model(new DbGridModel(this))
{
    setModel(m_model);
    setItemDelegate(new GridDelegate(m_model, this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setTabKeyNavigation(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsMovable(false);
    verticalHeader()->setVisible(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setHighlightSections(false);
    connect(m_model, &DbGridModel::currentRowChanged, this, &DbGrid::showTableRow);
    connect(m_model, &QAbstractItemModel::modelReset, this, &DbGrid::applyRowHeight);
    applyRowHeight();
}

void DbGrid::setDataSource(DataSource* source)
{
    m_model->setDataSource(source);
    applyWidths();
}

DataSource* DbGrid::dataSource() const { return m_model->dataSource(); }

void DbGrid::setColumns(const QList<GridColumn>& columns)
{
    m_model->setColumns(columns);
    applyWidths();
}

void DbGrid::setReadOnly(bool readOnly) { m_model->setReadOnly(readOnly); }

bool DbGrid::readOnly() const { return m_model->readOnly(); }

void DbGrid::setRowIndicator(bool on)
{
    verticalHeader()->setVisible(on);
    if (on)
        verticalHeader()->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("MM")));
}

void DbGrid::setRowHeightPercent(int percent)
{
    m_rowPercent = qMax(50, percent);
    applyRowHeight();
}

void DbGrid::setCellColour(DbGridModel::CellColour colour) { m_model->setCellColour(std::move(colour)); }

void DbGrid::setRowSaver(RowSaver saver)
{
    m_model->setRowSaver(std::move(saver));
}

void DbGrid::setFixedColumns(int count)
{
    m_fixed = qMax(0, count);
    if (m_fixed == 0) {
        delete m_fixedView;
        m_fixedView = nullptr;
        return;
    }
    if (!m_fixedView) {
        // A second view over the same model and selection, laid over the
        // left edge of this one and scrolled up and down with it; the
        // columns under it scroll sideways out of sight.
        m_fixedView = new QTableView(this);
        m_fixedView->setModel(m_model);
        m_fixedView->setSelectionModel(selectionModel());
        m_fixedView->setItemDelegate(itemDelegate());
        m_fixedView->setSelectionBehavior(selectionBehavior());
        m_fixedView->setSelectionMode(selectionMode());
        m_fixedView->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_fixedView->setFocusPolicy(Qt::NoFocus);
        m_fixedView->setWordWrap(false);
        m_fixedView->setFrameShape(QFrame::NoFrame);
        m_fixedView->verticalHeader()->hide();
        m_fixedView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        m_fixedView->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        m_fixedView->horizontalHeader()->setHighlightSections(false);
        m_fixedView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_fixedView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        viewport()->stackUnder(m_fixedView);
        connect(m_fixedView->verticalScrollBar(), &QAbstractSlider::valueChanged, verticalScrollBar(),
                &QAbstractSlider::setValue);
        connect(verticalScrollBar(), &QAbstractSlider::valueChanged, m_fixedView->verticalScrollBar(),
                &QAbstractSlider::setValue);
        connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this] { applyFixedColumns(); });
        connect(m_model, &QAbstractItemModel::modelReset, this, [this] { applyFixedColumns(); });
        m_fixedView->show();
    }
    applyFixedColumns();
}

int DbGrid::fixedColumns() const { return m_fixed; }

void DbGrid::applyFixedColumns()
{
    if (!m_fixedView)
        return;
    for (int c = 0; c < m_model->columnCount(); ++c) {
        m_fixedView->setColumnHidden(c, c >= m_fixed);
        m_fixedView->setColumnWidth(c, columnWidth(c));
    }
    m_fixedView->verticalHeader()->setDefaultSectionSize(verticalHeader()->defaultSectionSize());
    placeFixedView();
}

void DbGrid::placeFixedView()
{
    if (!m_fixedView)
        return;
    int width = 0;
    for (int c = 0; c < qMin(m_fixed, m_model->columnCount()); ++c)
        width += columnWidth(c);
    const int left = frameWidth() + (verticalHeader()->isVisible() ? verticalHeader()->width() : 0);
    m_fixedView->setGeometry(left, frameWidth(), width,
                             viewport()->height() + horizontalHeader()->height());
}

void DbGrid::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event);
    placeFixedView();
}

void DbGrid::updateGeometries()
{
    QTableView::updateGeometries();
    placeFixedView();
}

void DbGrid::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    // The fixed columns are always in sight: moving to one scrolls only up
    // or down, and a cell beside them must not end up hidden under them.
    if (m_fixed > 0 && index.isValid() && index.column() < m_fixed) {
        QTableView::scrollTo(m_model->index(index.row(), m_fixed < m_model->columnCount() ? m_fixed : index.column()),
                             hint);
        return;
    }
    QTableView::scrollTo(index, hint);
    if (m_fixed > 0 && index.isValid()) {
        int fixedWidth = 0;
        for (int c = 0; c < m_fixed; ++c)
            fixedWidth += columnWidth(c);
        const QRect cell = visualRect(index);
        if (cell.left() < fixedWidth)
            horizontalScrollBar()->setValue(horizontalScrollBar()->value() - (fixedWidth - cell.left()));
    }
}

DbGridModel* DbGrid::gridModel() const { return m_model; }

int DbGrid::currentLine() const { return m_model->currentRow(); }

int DbGrid::columnPixels(const QFontMetrics& metrics, int chars)
{
    // As many average characters as asked for, plus the cell's margins.
    return metrics.horizontalAdvance(QLatin1Char('0')) * chars + 6;
}

void DbGrid::applyWidths()
{
    const QList<GridColumn>& columns = m_model->columns();
    for (int c = 0; c < columns.size(); ++c)
        setColumnWidth(c, columnPixels(fontMetrics(), columns[c].widthChars));
}

void DbGrid::applyRowHeight()
{
    const int normal = fontMetrics().height() + 6;
    verticalHeader()->setDefaultSectionSize(normal * m_rowPercent / 100);
    if (m_fixedView)
        m_fixedView->verticalHeader()->setDefaultSectionSize(verticalHeader()->defaultSectionSize());
}

void DbGrid::changeEvent(QEvent* event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        applyWidths();
        applyRowHeight();
    }
}

void DbGrid::showTableRow(int row)
{
    m_syncing = true;
    if (row < 0) {
        selectionModel()->clearSelection();
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    } else {
        const int column = qMax(0, currentIndex().column());
        const QModelIndex index = m_model->index(row, column);
        const auto whole = selectionBehavior() == QAbstractItemView::SelectRows ? QItemSelectionModel::Rows
                                                                                : QItemSelectionModel::NoUpdate;
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | whole);
        scrollTo(index);
    }
    m_syncing = false;
}

void DbGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    if (m_syncing || !current.isValid() || current.row() == m_model->currentRow())
        return;
    const bool moved = support::guarded([&] { m_model->moveTableTo(current.row()); });
    if (!moved || current.row() != m_model->currentRow()) {
        // The table stayed where it was: put the grid back on its row once
        // the view has finished this change.
        QMetaObject::invokeMethod(this, [this] { showTableRow(m_model->currentRow()); },
                                  Qt::QueuedConnection);
    }
}

void DbGrid::keyPressEvent(QKeyEvent* event)
{
    // Insert and delete keys never add or remove rows here.
    if (event->key() == Qt::Key_Insert || event->key() == Qt::Key_Delete) {
        event->ignore();
        return;
    }
    QTableView::keyPressEvent(event);
}

} // namespace ui
