#include "permissions/Browse.h"

#include "permissions/PermTexts.h"

#include "store/ChangeUnit.h"
#include "store/Catalogue.h"
#include "store/StoreError.h"
#include "store/Table.h"
#include "support/Changes.h"
#include "support/ErrorBox.h"
#include "support/Messages.h"
#include "support/Text.h"
#include "ui/BusyCursor.h"
#include "ui/ControlsPaused.h"
#include "ui/DataSource.h"
#include "ui/DbGrid.h"
#include "ui/DialogFrame.h"
#include "ui/GuardedSlot.h"
#include "ui/RowState.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace permissions {

QList<ui::GridColumn> browseColumns()
{
    QList<ui::GridColumn> columns{{catalogue::fDb, QStringLiteral("DB"), 12, true},
                                  {QStringLiteral("WHO"), QStringLiteral("WHO"), 3, true},
                                  {QStringLiteral("Access"), QStringLiteral("Access"), 5}};
    for (const RecordKind& kind : recordKinds())
        for (const KindOperation& op : kindOperations())
            columns.append({kind.letter + op.suffix, kind.letter + op.browserSuffix, 5});
    return columns;
}

QColor browseCellColour(const QString& fieldName)
{
    const QChar first = fieldName.isEmpty() ? QChar() : fieldName.at(0).toLower();
    for (const RecordKind& kind : recordKinds())
        if (kind.letter.toLower() == first)
            return kind.colour;
    return QColor();
}

QStringList browseFilterLines(const QString& who, const QString& db)
{
    QStringList lines;
    if (!who.isEmpty())
        lines << QStringLiteral("Who = \"%1\"").arg(who);
    if (!db.isEmpty())
        lines << QStringLiteral("DB = \"%1\"").arg(db);
    return lines;
}

} // namespace permissions

namespace {

QString legendLabel(QChar letter)
{
    for (const permissions::RecordKind& kind : permissions::recordKinds())
        if (kind.letter == letter)
            return support::uiText(kind.legendLabel);
    return QString();
}

} // namespace

TfrmBrowse::TfrmBrowse(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(support::uiText(QStringLiteral("Browse")));
    setSizeGripEnabled(true);
    resize(660, 460);

    tblPerm = new store::Table(catalogue::kAlias, catalogue::kPerm, this);
    tblPerm->onNewRecord = [this](store::Table& t) { tblPermNewRecord(t); };
    tblPerm->beforeDelete = [this](store::Table& t) { tblPermBeforeDelete(t); };
    dsPerm = new ui::DataSource(this);
    dsPerm->setTable(tblPerm);

    grid = new ui::DbGrid(this);
    grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    grid->setColumns(permissions::browseColumns());
    grid->setDataSource(dsPerm);
    grid->setReadOnly(false);
    grid->setRowIndicator(true);
    grid->setShowGrid(true);
    grid->setRowHeightPercent(110);
    grid->setFixedColumns(2);
    grid->setCellColour([](int, const ui::GridColumn& column) {
        return permissions::browseCellColour(column.fieldName);
    });
    grid->setRowSaver([this](store::Table&) { saveEditedLine(); });
    // Cells of DB, WHO and Access keep the grid's own colour: button face.
    QPalette pal = grid->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Button));
    grid->setPalette(pal);

    cbDB = new QComboBox(this);
    cbUsers = new QComboBox(this);
    cbDB->setMinimumContentsLength(12);
    cbUsers->setMinimumContentsLength(8);
    btClose = new QPushButton(support::uiText(QStringLiteral("Cl&ose")), this);
    sbSet = new QToolButton(this);
    sbSet->setText(support::uiText(QStringLiteral("&Set row")));
    sbClear = new QToolButton(this);
    sbClear->setText(support::uiText(QStringLiteral("&Clear row")));
    sbSet->setFocusPolicy(Qt::NoFocus);
    sbClear->setFocusPolicy(Qt::NoFocus);

    lblContact = legendSquare(QStringLiteral("C"));
    lblCall = legendSquare(QStringLiteral("P"));
    lblMeeting = legendSquare(QStringLiteral("M"));
    lblQuote = legendSquare(QStringLiteral("Q"));
    lblnote = legendSquare(QStringLiteral("N"));
    lblLetter = legendSquare(QStringLiteral("L"));
    lblTodo = legendSquare(QStringLiteral("T"));
    lblSale = legendSquare(QStringLiteral("S"));

    // Two rows of four: contacts, calls, meetings, quotes above; notes,
    // letters, to-do's, sales below.
    auto* legend = new QGridLayout;
    legend->setHorizontalSpacing(4);
    legend->addWidget(new QLabel(support::uiText(QStringLiteral("Color Legend:")), this), 0, 0, 2, 1);
    const QList<QLabel*> squares{lblContact, lblCall, lblMeeting, lblQuote, lblnote, lblLetter, lblTodo, lblSale};
    for (int i = 0; i < squares.size(); ++i) {
        const int row = i / 4, column = 1 + 2 * (i % 4);
        legend->addWidget(squares[i], row, column);
        legend->addWidget(new QLabel(legendLabel(squares[i]->objectName().at(0)), this), row, column + 1);
    }

    // The lists and Close above the row buttons, the legend beside them.
    auto* controls = new QGridLayout;
    controls->addWidget(cbDB, 0, 0);
    controls->addWidget(cbUsers, 0, 1);
    controls->addWidget(btClose, 0, 2);
    controls->addWidget(sbSet, 1, 0, Qt::AlignLeft);
    controls->addWidget(sbClear, 1, 1, Qt::AlignLeft);
    auto* panel = new QHBoxLayout;
    panel->addLayout(controls);
    panel->addSpacing(12);
    panel->addLayout(legend);
    panel->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(grid, 1);
    layout->addLayout(panel);

    ui::setTabChain({grid, cbDB, cbUsers, btClose});

    connect(cbDB, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_filling)
            support::guarded([this] { cbUsersClick(); });
    });
    connect(cbUsers, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_filling)
            support::guarded([this] { cbUsersClick(); });
    });
    connect(btClose, &QPushButton::clicked, this, ui::guardedSlot(this, &TfrmBrowse::btCloseClick));
    connect(sbSet, &QToolButton::clicked, this, [this] { support::guarded([this] { SetRow(true); }); });
    connect(sbClear, &QToolButton::clicked, this, [this] { support::guarded([this] { SetRow(false); }); });
}

TfrmBrowse::~TfrmBrowse()
{
    // The grid goes before the table it shows.
    grid->setDataSource(nullptr);
}

QLabel* TfrmBrowse::legendSquare(const QString& fieldLetter)
{
    auto* square = new QLabel(this);
    square->setObjectName(fieldLetter); // the kind's letter, for its label
    const int side = fontMetrics().height() - 2;
    square->setFixedSize(side, side);
    square->setFrameShape(QFrame::Box);
    square->setAutoFillBackground(true);
    QPalette pal = square->palette();
    pal.setColor(QPalette::Window, permissions::browseCellColour(fieldLetter));
    square->setPalette(pal);
    return square;
}

void TfrmBrowse::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!ui::firstShowing(this, m_shown))
        return;
    if (!support::guarded([this] { FormShow(); }))
        QMetaObject::invokeMethod(this, [this] { QDialog::reject(); }, Qt::QueuedConnection);
}

void TfrmBrowse::fillList(QComboBox* box, const QString& all, const QString& tableName, const QString& field)
{
    QStringList items{all};
    store::Table table(catalogue::kAlias, tableName);
    table.open();
    store::Field& value = table.fieldByName(field);
    for (table.first(); !table.eof(); table.next())
        items << value.asString();
    table.close();
    m_filling = true;
    box->clear();
    box->addItems(items);
    box->setCurrentIndex(0);
    m_filling = false;
}

void TfrmBrowse::FormShow()
{
    ui::BusyCursor busy;
    tblPerm->setFilterLines({});
    tblPerm->open();
    fillList(cbUsers, support::uiText(QLatin1String(kAllUsers)), catalogue::kUserPref, catalogue::fWho);
    fillList(cbDB, support::uiText(QLatin1String(kAllDatabases)), catalogue::kDatabase, catalogue::fDb);
}

void TfrmBrowse::saveEditedLine()
{
    if (!tblPerm->active() || !ui::isEditing(*tblPerm))
        return;
    store::ChangeUnit unit(*tblPerm);
    tblPerm->post();
    support::journalrecord(*tblPerm, support::ActionChanged);
    unit.commit();
}

void TfrmBrowse::cbUsersClick()
{
    if (!tblPerm->active())
        return;
    ui::BusyCursor busy;
    // Narrowing re-reads the rows, which would save the line being edited
    // silently: save and journal it first.
    saveEditedLine();
    const QString who = cbUsers->currentIndex() > 0 ? cbUsers->currentText() : QString();
    const QString db = cbDB->currentIndex() > 0 ? cbDB->currentText() : QString();
    tblPerm->setFilterLines(permissions::browseFilterLines(who, db));
}

void TfrmBrowse::SetRow(bool value)
{
    if (!tblPerm->active() || (tblPerm->rowId() == 0 && !ui::isEditing(*tblPerm)))
        return; // no line shown
    ui::ControlsPaused paused({tblPerm});
    ui::startEditing(*tblPerm);
    for (const QString& name : permissions::recordKindFields())
        tblPerm->fieldByName(name).setAsBoolean(value);
    store::ChangeUnit unit(*tblPerm);
    tblPerm->post();
    support::journalrecord(*tblPerm, support::ActionChanged);
    unit.commit();
}

void TfrmBrowse::btCloseClick()
{
    try {
        saveEditedLine();
    } catch (const std::exception& error) {
        // When another program changed or deleted the row, no later try can
        // save the line, and the browser has no Cancel: the supervisor may
        // give the line's changes up and close.
        const QString line = support::uiText(QStringLiteral("The changes to the permissions of user %1 in database "
                                                            "%2 could not be saved.  Close without them?"))
                                 .arg(tblPerm->fieldByName(QStringLiteral("WHO")).asString(),
                                      tblPerm->fieldByName(catalogue::fDb).asString());
        const auto* storeError = dynamic_cast<const store::StoreError*>(&error);
        if (!support::confirm(line, support::BoxKind::Question,
                              storeError ? storeError->message() : QString::fromUtf8(error.what())))
            return;
        ui::dropPendingRow(*tblPerm);
    }
    accept();
}

void TfrmBrowse::reject()
{
    // The browser has no Cancel: Esc and the close box close it as "Cl&ose"
    // does, so a flipped check box is not lost without a word.
    support::guarded([this] { btCloseClick(); });
}

void TfrmBrowse::tblPermNewRecord(store::Table& table)
{
    table.cancel();
}

void TfrmBrowse::tblPermBeforeDelete(store::Table& table)
{
    ui::dropPendingRow(table);
    throw store::StoreError(support::uiText(QStringLiteral("Permission rows cannot be deleted in the browser.")));
}
