#include "ui/DbCheckList.h"

#include "permissions/PermModel.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "ui/DataSource.h"

#include <QKeyEvent>
#include <QScrollBar>

namespace ui {

DbCheckList::DbCheckList(QWidget* parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemChanged, this, &DbCheckList::onItemChanged);
}

void DbCheckList::setDataSource(DataSource* source) { m_source = source; }

DataSource* DbCheckList::dataSource() const { return m_source.data(); }

void DbCheckList::setRunFields(const QString& firstField, const QString& lastField)
{
    m_firstField = firstField;
    m_lastField = lastField;
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

void DbCheckList::loadFromRow()
{
    store::Table* table = boundTable();
    if (!table)
        return;
    const permissions::FlagRun run = permissions::findRun(*table, m_firstField, m_lastField);
    if (run.size() != count())
        throw store::StoreError(QStringLiteral("The table %1 has %2 fields from %3 to %4, not %5.")
                                    .arg(table->tableName())
                                    .arg(run.size())
                                    .arg(m_firstField, m_lastField)
                                    .arg(count()));
    // The list keeps its scroll position: the first visible item stays first.
    const int top = verticalScrollBar()->value();
    setUpdatesEnabled(false);
    setChecks(permissions::readRun(*table, run));
    verticalScrollBar()->setValue(top);
    setUpdatesEnabled(true);
}

void DbCheckList::storeToRow()
{
    store::Table* table = boundTable();
    if (!table)
        return;
    const permissions::FlagRun run = permissions::findRun(*table, m_firstField, m_lastField);
    permissions::writeRun(*table, run, checks());
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
    return permissions::countSet(checks());
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

void DbCheckList::onItemChanged(QListWidgetItem* changed)
{
    if (m_loading || !changed)
        return;
    emit itemToggled(row(changed));
}

} // namespace ui
