#include "ui/DbCheckBox.h"

#include "store/Field.h"

#include <QSignalBlocker>

namespace ui {

DbCheckBox::DbCheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent)
{
    connect(&m_binding, &FieldBinding::bindingChanged, this, &DbCheckBox::reload);
    connect(&m_binding, &FieldBinding::valueChanged, this, &DbCheckBox::reload);
    connect(this, &QCheckBox::clicked, this, &DbCheckBox::onClicked);
}

void DbCheckBox::setDataSource(DataSource* source) { m_binding.setDataSource(source); }

DataSource* DbCheckBox::dataSource() const { return m_binding.dataSource(); }

void DbCheckBox::setDataField(const QString& fieldName) { m_binding.setDataField(fieldName); }

QString DbCheckBox::dataField() const { return m_binding.dataField(); }

void DbCheckBox::reload()
{
    if (m_binding.writing())
        return;
    bool on = false;
    if (store::Field* f = m_binding.field()) {
        try {
            on = f->asBoolean();
        } catch (const std::exception&) {
        }
    }
    const QSignalBlocker block(this);
    setChecked(on);
}

void DbCheckBox::onClicked(bool checked)
{
    if (!m_binding.write([checked](store::Field& f) { f.setAsBoolean(checked); }))
        reload();
}

} // namespace ui
