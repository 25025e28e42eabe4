#include "login/PrintColumns.h"

#include <QFontMetrics>

#include <numeric>

namespace login {

QVector<double> printColumnWidths(const QFontMetrics& metrics, const QStringList& headings,
                                  const QVector<QStringList>& lines, double pageWidth, int pad)
{
    const int count = int(headings.size());
    // One pixel more than measured, for the rounding of the text layout.
    const double margin = 2.0 * pad + 1;
    QVector<double> natural(count, margin), least(count, margin);
    auto measure = [&](int c, const QString& text) {
        natural[c] = qMax(natural[c], metrics.horizontalAdvance(text) + margin);
        for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            least[c] = qMax(least[c], metrics.horizontalAdvance(word) + margin);
    };
    for (int c = 0; c < count; ++c)
        measure(c, headings[c]);
    for (const QStringList& cells : lines)
        for (int c = 0; c < count && c < cells.size(); ++c)
            measure(c, cells[c]);

    const double total = std::accumulate(natural.cbegin(), natural.cend(), 0.0);
    QVector<double> widths(count);
    if (total <= pageWidth) {
        for (int c = 0; c < count; ++c)
            widths[c] = natural[c] + (pageWidth - total) * natural[c] / total;
        return widths;
    }
    const double leastTotal = std::accumulate(least.cbegin(), least.cend(), 0.0);
    if (leastTotal >= pageWidth) {
        // Even single words do not fit: every column narrows alike and its
        // words break where they must.
        for (int c = 0; c < count; ++c)
            widths[c] = least[c] * pageWidth / leastTotal;
        return widths;
    }
    const double spare = total - leastTotal;
    for (int c = 0; c < count; ++c)
        widths[c] = natural[c] - (total - pageWidth) * (natural[c] - least[c]) / spare;
    return widths;
}

} // namespace login
