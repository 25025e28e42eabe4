#pragma once

#include "ui/CaseValidator.h"
#include "ui/FieldBinding.h"

#include <QLineEdit>

namespace ui {

class DataSource;

// A line edit bound to one text field of a data source's current row. It
// shows the field and writes every change the user makes straight into the
// row, putting a browsing row into edit state first. The row is saved or
// dropped by whoever owns the table.
//
// The maximum length is the field's size unless set; a forced letter case
// turns letters as they are typed.
class DbEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit DbEdit(QWidget* parent = nullptr);

    void setDataSource(DataSource* source);
    DataSource* dataSource() const;
    void setDataField(const QString& fieldName);
    QString dataField() const;

    void setCharCase(CharCase charCase);
    CharCase charCase() const;
    // 0 takes the field's size (the line edit's own limit when that is 0).
    void setFieldMaxLength(int length);

    // Shows the field's value again.
    void reload();

private:
    void bindingChanged();
    void onTextEdited(const QString& text);

    FieldBinding m_binding;
    CharCase m_case = CharCase::Normal;
    int m_maxLength = 0;
};

} // namespace ui
