#pragma once

#include <QValidator>

namespace ui {

enum class CharCase { Normal, Upper, Lower };

// Turns every typed or pasted letter into one letter case as it arrives.
class CaseValidator : public QValidator {
    Q_OBJECT
public:
    explicit CaseValidator(CharCase charCase, QObject* parent = nullptr);
    CharCase charCase() const { return m_case; }
    State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;

private:
    CharCase m_case;
};

// The text in the given letter case.
QString applyCase(const QString& text, CharCase charCase);

} // namespace ui
