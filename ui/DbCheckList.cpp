#include "ui/DbCheckList.h"

#include "store/StoreError.h"
#include "store/Table.h"
#include "ui/DataSource.h"
#include "ui/RowState.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>

namespace ui {

DbCheckList::DbCheckList(QWidget* parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemChanged, this, &DbCheckList::onItemChanged);
    // A click that only selects an item counts as a click as well.
    connect(this, &QListWidget::itemClicked, this, [this](QListWidgetItem* clicked) {
        if (m_inMouseRelease && clicked)
            m_mouseItem = row(clicked);
    });
}

void DbCheckList::setDataSource(DataSource* source) { m_source = source; }

DataSource* DbCheckList::dataSource() const { return m_source.data(); }

void DbCheckList::setRun(int firstPosition, int lastPosition)
{
    m_first = firstPosition;
    m_last = lastPosition;
}

void DbCheckList::setCaptions(const QStringList& captions)
{
    m_loading = true;
    clear();
    for (const QString& caption : captions) {
        auto* item = new QListWidgetItem(caption, this);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    m_loading = false;
}

store::Table* DbCheckList::boundTable() const
{
    if (!m_source || !m_source->active())
        return nullptr;
    return m_source->table();
}

void DbCheckList::checkRun(store::Table& table) const
{
    if (m_first < 0 || m_last >= table.fieldCount() || m_last - m_first + 1 != count())
        throw store::StoreError(QStringLiteral("The table %1 has no run of %2 fields at positions %3 to %4.")
                                    .arg(table.tableName())
                                    .arg(count())
                                    .arg(m_first)
                                    .arg(m_last));
}

void DbCheckList::loadFromRow()
{
    store::Table* table = boundTable();
    if (!table)
        return;
    checkRun(*table);
    QVector<bool> values;
    values.reserve(count());
    for (int i = m_first; i <= m_last; ++i)
        values.append(table->field(i).asBoolean());
    // The first visible item stays first and becomes the current item.
    const QModelIndex topIndex = indexAt(QPoint(1, 1));
    const int top = topIndex.isValid() ? topIndex.row() : 0;
    setUpdatesEnabled(false);
    setChecks(values);
    if (top < count()) {
        setCurrentRow(top);
        scrollToItem(item(top), QAbstractItemView::PositionAtTop);
    }
    setUpdatesEnabled(true);
}

void DbCheckList::storeToRow()
{
    store::Table* table = boundTable();
    if (!table)
        return;
    checkRun(*table);
    const QVector<bool> values = checks();
    ui::startEditing(*table);
    for (int i = 0; i < values.size(); ++i)
        table->field(m_first + i).setAsBoolean(values[i]);
}

QVector<bool> DbCheckList::checks() const
{
    QVector<bool> result;
    result.reserve(count());
    for (int i = 0; i < count(); ++i)
        result.append(item(i)->checkState() == Qt::Checked);
    return result;
}

void DbCheckList::setChecks(const QVector<bool>& values)
{
    m_loading = true;
    for (int i = 0; i < count() && i < values.size(); ++i)
        item(i)->setCheckState(values[i] ? Qt::Checked : Qt::Unchecked);
    m_loading = false;
}

bool DbCheckList::isChecked(int i) const
{
    return i >= 0 && i < count() && item(i)->checkState() == Qt::Checked;
}

void DbCheckList::setChecked(int i, bool on)
{
    if (i >= 0 && i < count())
        item(i)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

int DbCheckList::checkedCount() const
{
    const QVector<bool> values = checks();
    return int(std::count(values.cbegin(), values.cend(), true));
}

void DbCheckList::keyPressEvent(QKeyEvent* event)
{
    // The space bar flips the current item.
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier && currentItem()) {
        setChecked(currentRow(), currentItem()->checkState() != Qt::Checked);
        return;
    }
    QListWidget::keyPressEvent(event);
}

void DbCheckList::mouseReleaseEvent(QMouseEvent* event)
{
    // The release may flip the item's tick and then report the click: the
    // window hears of it once, with the tick in place.
    m_inMouseRelease = true;
    m_mouseItem = -1;
    QListWidget::mouseReleaseEvent(event);
    m_inMouseRelease = false;
    if (m_mouseItem >= 0)
        emit itemClick(m_mouseItem);
}

void DbCheckList::onItemChanged(QListWidgetItem* changed)
{
    if (m_loading || !changed)
        return;
    if (m_inMouseRelease) {
        m_mouseItem = row(changed);
        return;
    }
    emit itemClick(row(changed));
}

} // namespace ui
