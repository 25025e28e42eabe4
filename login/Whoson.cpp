#include "login/Whoson.h"

#include "login/PrintColumns.h"
#include "login/WhosOnLines.h"
#include "store/Catalogue.h"
#include "support/Clock.h"
#include "support/ErrorBox.h"
#include "support/Help.h"
#include "support/Text.h"
#include "ui/BusyCursor.h"
#include "ui/DialogFrame.h"
#include "ui/GuardedSlot.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTableWidget>
#include <QTextOption>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <stdexcept>

namespace {

constexpr int kHelpContext = 1600;
constexpr int kDefaultInterval = 10000;

QString text(const char* s) { return support::uiText(QString::fromUtf8(s)); }

} // namespace

TfrmWhosOn::TfrmWhosOn(QWidget* parent)
    : QDialog(parent),
      tblUserPref(catalogue::kAlias, catalogue::kUserPref),
      tblUserDB(catalogue::kAlias, catalogue::kUserDb),
      tblUsersOn(catalogue::kAlias, catalogue::kUsersOn)
{
    setWindowTitle(text("Who's on the system"));

    grid = new QTableWidget(2, login::ColumnCount, this);
    grid->setAlternatingRowColors(true);
    grid->setShowGrid(true);
    grid->setSortingEnabled(false);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    grid->verticalHeader()->hide();
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid->horizontalHeader()->setSectionsClickable(false);
    const QFontMetrics metrics(grid->font());
    const int widths[] = {6, 20, 12, 24, 14, 8, 16}; // characters
    int gridWidth = grid->frameWidth() * 2 + 2;
    for (int c = 0; c < login::ColumnCount; ++c) {
        grid->setColumnWidth(c, metrics.averageCharWidth() * widths[c] + 8);
        gridWidth += grid->columnWidth(c);
    }
    grid->setFixedSize(gridWidth, grid->horizontalHeader()->sizeHint().height()
                                      + grid->verticalHeader()->defaultSectionSize() * 12 + grid->frameWidth() * 2);

    Print1 = new QAction(text("Print"), grid);
    grid->addAction(Print1);
    grid->setContextMenuPolicy(Qt::ActionsContextMenu);

    lblNote = new QLabel(
        text("Note: the accuracy of this table depends on a consistent clock time for each machine on the network."),
        this);
    lblNote->setWordWrap(true);
    btHelp = new QPushButton(text("&Help"), this);
    btCancel = new QPushButton(text("Cancel"), this);
    btHelp->setAutoDefault(false);
    btCancel->setAutoDefault(false);

    // The buttons 10 pixels below the grid, the note on their left, the
    // window ending 10 pixels below them.
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(lblNote, 1);
    bottom->addWidget(btHelp, 0, Qt::AlignTop);
    bottom->addWidget(btCancel, 0, Qt::AlignTop);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->addWidget(grid);
    layout->addLayout(bottom);

    ui::setTabChain({grid, btHelp, btCancel});

    Timer1 = new QTimer(this);
    Timer1->setInterval(kDefaultInterval);

    choosePrinter = [this](QPrinter& printer) {
        QPrintDialog dialog(&printer, this);
        return dialog.exec() == QDialog::Accepted;
    };

    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btHelp, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmWhosOn::btHelpClick));
    connect(Print1, &QAction::triggered, this, ui::guardedSlot(this, &TfrmWhosOn::Print1Click));
    connect(Timer1, &QTimer::timeout, this, ui::guardedSlot(this, &TfrmWhosOn::Timer1Timer));

    ui::fixDialogBorder(this);
}

TfrmWhosOn::~TfrmWhosOn() = default;

void TfrmWhosOn::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!ui::firstShowing(this, m_shown))
        return;
    support::guarded([this] { FormShow(); });
}

void TfrmWhosOn::FormShow()
{
    grid->setHorizontalHeaderLabels(login::whosOnHeadings());
    tblUserPref.open();
    tblUserDB.open();
    tblUsersOn.open();
    fillGridWithWho();
    Timer1->start();
}

void TfrmWhosOn::clearGrid()
{
    grid->clearContents();
}

void TfrmWhosOn::fillGridWithWho()
{
    clearGrid();
    // The clients change these rows from other machines at any time. The
    // lines read the users' rows afresh; the log-ins are walked, so their
    // window is read again first.
    tblUsersOn.refresh();
    const QVector<QStringList> lines =
        login::whosOnLines(tblUsersOn, tblUserPref, tblUserDB, support::nowDays());
    // With nobody on, one empty line shows under the heading.
    grid->setRowCount(qMax(1, int(lines.size())));
    for (int r = 0; r < lines.size(); ++r)
        for (int c = 0; c < login::ColumnCount; ++c)
            grid->setItem(r, c, new QTableWidgetItem(lines[r][c]));
}

void TfrmWhosOn::Timer1Timer()
{
    // No tick while this one runs, nor while the error box of a failed
    // refresh is up: the next ticks would pile more boxes on top of it. The
    // timer starts again once the box has been dismissed.
    Timer1->stop();
    support::guarded([this] { fillGridWithWho(); });
    if (isVisible())
        Timer1->start();
}

void TfrmWhosOn::Print1Click()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setDocName(windowTitle());
    if (!choosePrinter(printer))
        return;
    ui::BusyCursor busy;
    printGrid(printer);
}

void TfrmWhosOn::printGrid(QPrinter& printer)
{
    printer.setPageOrientation(QPageLayout::Portrait);
    QPainter painter;
    if (!painter.begin(&printer))
        throw std::runtime_error(text("Could not start printing.").toStdString());

    painter.setFont(QFont(grid->font(), &printer));
    const QFontMetrics metrics = painter.fontMetrics();
    const QRect page = printer.pageLayout().paintRectPixels(printer.resolution()).translated(
        -printer.pageLayout().paintRectPixels(printer.resolution()).topLeft());
    const int pad = metrics.averageCharWidth() / 2;

    QStringList headings;
    for (int c = 0; c < grid->columnCount(); ++c)
        headings << grid->horizontalHeaderItem(c)->text();
    QVector<QStringList> lines;
    for (int r = 0; r < grid->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < grid->columnCount(); ++c) {
            const QTableWidgetItem* item = grid->item(r, c);
            cells << (item ? item->text() : QString());
        }
        lines.append(cells);
    }

    const QVector<double> widths = login::printColumnWidths(metrics, headings, lines, page.width(), pad);
    // A text too long for its column wraps inside its cell, at a blank
    // where it can: nothing is cut.
    QTextOption wrap(Qt::AlignLeft | Qt::AlignVCenter);
    wrap.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    auto lineHeight = [&](const QStringList& cells) {
        double height = metrics.height();
        for (int c = 0; c < cells.size(); ++c)
            height = qMax(height, painter.boundingRect(QRectF(0, 0, widths[c] - 2 * pad, 1e6), cells[c], wrap).height());
        return int(std::ceil(height)) + pad * 2;
    };

    const QDateTime now = support::now();
    const QString date = now.toString(QStringLiteral("dd/MM/yyyy"));
    const QString time = QLocale().toString(now.time(), QLocale::ShortFormat);

    auto drawLine = [&](int y, const QStringList& cells, int height) {
        double x = page.left();
        for (int c = 0; c < cells.size(); ++c) {
            const QRectF cell(x, y, widths[c], height);
            painter.drawRect(cell);
            painter.drawText(cell.adjusted(pad, pad, -pad, -pad), cells[c], wrap);
            x += widths[c];
        }
    };
    const int titleHeight = metrics.height() + pad * 2;
    const int headingHeight = lineHeight(headings);
    auto drawPageTop = [&]() {
        const QRect top(page.left(), page.top(), page.width(), titleHeight);
        painter.drawText(top, Qt::AlignLeft | Qt::AlignVCenter, date);
        painter.drawText(top, Qt::AlignHCenter | Qt::AlignVCenter, windowTitle());
        painter.drawText(top, Qt::AlignRight | Qt::AlignVCenter, time);
        drawLine(page.top() + titleHeight * 2, headings, headingHeight);
        return page.top() + titleHeight * 2 + headingHeight;
    };

    int y = drawPageTop();
    for (const QStringList& cells : std::as_const(lines)) {
        const int height = lineHeight(cells);
        if (y + height > page.bottom()) {
            printer.newPage();
            y = drawPageTop();
        }
        drawLine(y, cells, height);
        y += height;
    }
    painter.end();
}

void TfrmWhosOn::btHelpClick()
{
    support::openHelp(kHelpContext);
}
