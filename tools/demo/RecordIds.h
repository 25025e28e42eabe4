#pragma once

#include <QDate>
#include <QString>
#include <random>

namespace demo {

// Record identifiers for the sample rows: 24 capital letters, six groups of
// four base-25 digits ("A" = 0 .. "Y" = 24). The first group counts the days
// from 1 January 2000 to the given day, the other five are random numbers
// from 0 to 99998. A fixed seed gives the same identifiers every time.
class RecordIds {
public:
    RecordIds(quint32 seed, const QDate& today);
    QString next();
    QByteArray nextUtf8(); // the same, for binding straight into SQLite

    static QString encodeBase25(qint64 number, int digits);

private:
    void append(char* out, qint64 number) const;
    std::mt19937 m_random;
    std::uniform_int_distribution<int> m_draw{0, 99998};
    qint64 m_dayGroup;
};

} // namespace demo
