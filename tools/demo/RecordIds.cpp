#include "tools/demo/RecordIds.h"

#include <cstdlib>

namespace demo {

RecordIds::RecordIds(quint32 seed, const QDate& today)
    : m_random(seed), m_dayGroup(std::llabs(QDate(2000, 1, 1).daysTo(today)))
{
}

void RecordIds::append(char* out, qint64 number) const
{
    for (int i = 3; i >= 0; --i) {
        out[i] = char('A' + number % 25);
        number /= 25;
    }
}

QByteArray RecordIds::nextUtf8()
{
    QByteArray id(24, 'A');
    append(id.data(), m_dayGroup);
    for (int group = 1; group < 6; ++group)
        append(id.data() + 4 * group, m_draw(m_random));
    return id;
}

QString RecordIds::next()
{
    return QString::fromLatin1(nextUtf8());
}

QString RecordIds::encodeBase25(qint64 number, int digits)
{
    number = std::llabs(number);
    QString result(digits, QLatin1Char('A'));
    for (int i = digits - 1; i >= 0; --i) {
        result[i] = QLatin1Char(char('A' + number % 25));
        number /= 25;
    }
    return result;
}

} // namespace demo
