#include "ui/CaseValidator.h"

namespace ui {

QString applyCase(const QString& text, CharCase charCase)
{
    if (charCase == CharCase::Normal)
        return text;
    // Character by character, so that the length never changes (the cursor
    // and the length limit stay right).
    QString out = text;
    for (QChar& c : out)
        c = charCase == CharCase::Upper ? c.toUpper() : c.toLower();
    return out;
}

CaseValidator::CaseValidator(CharCase charCase, QObject* parent) : QValidator(parent), m_case(charCase) {}

QValidator::State CaseValidator::validate(QString& input, int& pos) const
{
    Q_UNUSED(pos);
    input = applyCase(input, m_case);
    return Acceptable;
}

void CaseValidator::fixup(QString& input) const
{
    input = applyCase(input, m_case);
}

} // namespace ui
