#include "ui/DataSource.h"

#include "store/Table.h"

namespace ui {

DataSource::DataSource(QObject* parent) : QObject(parent) {}

DataSource::~DataSource() = default;

void DataSource::setTable(store::Table* table)
{
    if (m_table == table)
        return;
    if (m_table)
        disconnect(m_table, nullptr, this, nullptr);
    m_table = table;
    if (m_table) {
        connect(m_table, &store::Table::dataSetChanged, this, &DataSource::onDataSet);
        connect(m_table, &store::Table::recordChanged, this, &DataSource::onRecord);
        connect(m_table, &store::Table::fieldChanged, this, &DataSource::onField);
        connect(m_table, &store::Table::stateChanged, this, &DataSource::onState);
        // A table object that goes away unbinds every control at once.
        connect(m_table, &QObject::destroyed, this, [this] {
            emit tableChanged();
            emit dataSetChange();
            emit dataChange(-1);
        });
    }
    emit tableChanged();
    emit dataSetChange();
    emit dataChange(-1);
}

store::Table* DataSource::table() const { return m_table.data(); }

bool DataSource::active() const { return m_table && m_table->active(); }

store::Field* DataSource::findField(const QString& name) const
{
    if (!active())
        return nullptr;
    return m_table->findField(name);
}

bool DataSource::editing() const
{
    if (!m_table)
        return false;
    const store::TableState s = m_table->state();
    return s == store::TableState::Edit || s == store::TableState::Insert;
}

void DataSource::onDataSet()
{
    emit dataSetChange();
    emit dataChange(-1);
}

void DataSource::onRecord()
{
    emit rowChange();
    emit dataChange(-1);
}

void DataSource::onField(int index) { emit dataChange(index); }

void DataSource::onState()
{
    emit stateChange();
    // Insert starts a new row and cancel brings the stored one back: both
    // change what the current row holds.
    emit dataChange(-1);
}

} // namespace ui
