#pragma once

#include <QStringList>
#include <QVector>

class QFontMetrics;

namespace login {

// The widths of the printed who's-on columns on a page width, in the
// printer's pixels. Each column gets what its widest text needs (heading
// included) plus pad on either side, and the room left over is shared in
// proportion, so that the table spans the page. When the texts do not fit
// side by side, the columns give up width in proportion to what they can
// spare above their longest word, so that texts wrap at blanks.
QVector<double> printColumnWidths(const QFontMetrics& metrics, const QStringList& headings,
                                  const QVector<QStringList>& lines, double pageWidth, int pad);

} // namespace login
