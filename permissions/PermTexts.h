#pragma once

// The captions of the permission windows in one place: the two check lists
// (the 27 actions of a permission row, the 49 system flags of a user row), the
// eight kinds of record with their labels and browser colours, the four
// operations and the 13 tab flags.
//
// API: actionCaptions() and systemCaptions() give the check-list items in
// list order (item p stands for the p-th field of the run; trailing blanks are
// part of the captions, and items 21 and 26 of the actions differ only by one).
// recordKinds() and kindOperations() name the 32 record-kind fields:
// kind.letter + op.suffix ("CVisible" ... "SDelete"); tabFlags() the 13 tab
// fields in the order of the "Visible Tabs" page's columns.

#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>

namespace permissions {

const QStringList& actionCaptions(); // 27 items
const QStringList& systemCaptions(); // 49 items

struct RecordKind {
    QChar letter;        // C, N, P, L, M, T, Q, S
    QString dialogLabel; // row label of the database dialog's "Data" page
    QString legendLabel; // the browser's legend
    QColor colour;       // the browser's colour for the kind's columns
};
const QList<RecordKind>& recordKinds();

struct KindOperation {
    QString suffix;        // Visible, Add, Change, Delete
    QString dialogLabel;   // column heading of the "Data" page
    QString browserSuffix; // browser column title: letter + this ("CView", "Cadd")
};
const QList<KindOperation>& kindOperations();

// The 32 record-kind field names, kind by kind, operation by operation.
QStringList recordKindFields();

struct TabFlag {
    QString field;
    QString caption;
};
// Left column first ("Category Tab" ... "User Tab 3"), then the right one.
const QList<TabFlag>& tabFlags();

// "%d set, %d clear".
QString countText(int set, int clear);

// The caption of the Access box of the "Data" page.
QString accessCaption();
// The caption of the supervisor box of the system dialog, without its
// accelerator.
QString supervisorCaption();
// The warning the database dialog gives a supervisor with some permission
// false: three sentences parted by two carriage returns.
QString databaseSupervisorWarning();

} // namespace permissions
