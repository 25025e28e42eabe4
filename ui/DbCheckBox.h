#pragma once

#include "ui/FieldBinding.h"

#include <QCheckBox>

namespace ui {

class DataSource;

// A check box bound to one boolean field of a data source's current row:
// ticked while the field is true (a blank field shows unticked). Clicking it
// writes the field, putting a browsing row into edit state first.
class DbCheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit DbCheckBox(const QString& text = QString(), QWidget* parent = nullptr);

    void setDataSource(DataSource* source);
    DataSource* dataSource() const;
    void setDataField(const QString& fieldName);
    QString dataField() const;

    void reload();

private:
    void onClicked(bool checked);

    FieldBinding m_binding;
};

} // namespace ui
