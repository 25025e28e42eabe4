#include "ui/DbCheckBox.h"

#include "store/Table.h"
#include "support/ErrorBox.h"
#include "ui/DataSource.h"

#include <QSignalBlocker>

namespace ui {

DbCheckBox::DbCheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent)
{
    connect(this, &QCheckBox::clicked, this, &DbCheckBox::onClicked);
}

void DbCheckBox::setDataSource(DataSource* source)
{
    if (m_source == source)
        return;
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (m_source)
        connect(m_source, &DataSource::dataChange, this, &DbCheckBox::onDataChange);
    reload();
}

DataSource* DbCheckBox::dataSource() const { return m_source.data(); }

void DbCheckBox::setDataField(const QString& fieldName)
{
    m_fieldName = fieldName;
    reload();
}

QString DbCheckBox::dataField() const { return m_fieldName; }

void DbCheckBox::reload()
{
    if (m_writing)
        return;
    bool on = false;
    if (store::Field* f = m_source ? m_source->findField(m_fieldName) : nullptr) {
        try {
            on = f->asBoolean();
        } catch (const std::exception&) {
        }
    }
    const QSignalBlocker block(this);
    setChecked(on);
}

void DbCheckBox::onDataChange(int fieldIndex)
{
    if (fieldIndex < 0) {
        reload();
        return;
    }
    store::Field* f = m_source ? m_source->findField(m_fieldName) : nullptr;
    if (f && f->index() == fieldIndex)
        reload();
}

void DbCheckBox::onClicked(bool checked)
{
    store::Field* f = m_source ? m_source->findField(m_fieldName) : nullptr;
    if (!f) {
        reload();
        return;
    }
    m_writing = true;
    const bool ok = support::guarded([&] {
        if (!m_source->editing())
            m_source->table()->edit();
        f->setAsBoolean(checked);
    });
    m_writing = false;
    if (!ok)
        reload();
}

} // namespace ui
