#pragma once

#include <QList>
#include <QString>
#include <array>
#include <functional>

namespace store { class Table; }

// Copying groups of preferences and the permission flags from one user to
// another, without the window: the dialog and the tests call these directly.
namespace accounts {

// How a preference is read, compared and written.
enum class CopyKind { Text = 0, Boolean = 1, Integer = 2, DateTime = 3 };

struct CopyField {
    QString name;
    CopyKind kind;
};

struct CopyGroup {
    QString caption; // the check box's text
    QList<CopyField> fields;
};

// The ten groups of USERPREF.DB fields, in the order they are copied:
// phone, data entry, word processing, envelope, report font, alarm and
// duration, fax, label printer, e-mail, duplicate checking.
const QList<CopyGroup>& preferenceGroups();
constexpr int kPreferenceGroupCount = 10;
constexpr int kEnvelopeGroup = 3; // also copies the return address

// Which groups the supervisor ticked.
struct CopySelection {
    bool permissions = false;
    std::array<bool, kPreferenceGroupCount> groups{};
    bool all = false; // "All of the above": every group, whatever the others say

    bool permissionsSelected() const { return permissions || all; }
    bool groupSelected(int index) const { return all || groups[size_t(index)]; }
};

// The program's copy-in-progress guard.
bool& copyInProgress();

// Copies one field from the source row to the target row (in edit state)
// when the two differ as read in kind, journalling it. True when written.
bool xfer(store::Table& from, store::Table& to, const QString& fieldName, CopyKind kind);

// Copies every boolean field of one permission row onto another (in edit
// state), journalling each one that changes.
void copyPermrow(store::Table& from, store::Table& to);

// For every contact database in which both users have a permission row,
// copies the source's flags onto the target's row. No row is created.
void copyPermfields(const QString& fromWho, const QString& toWho);

// The return address as it is stored after a copy: each line of text, the
// last one included, followed by CR LF; an empty text stays empty.
QString returnAddressText(const QString& text);

// The group-by-group copy between two USERPREF.DB table objects positioned
// on the source and target rows; returnAddress is the source's return
// address as the dialog shows it. True when at least one group was selected.
bool copygroups(store::Table& from, store::Table& to, const CopySelection& selection, const QString& returnAddress);

// The dialog's OK without the dialog: finds both users (the error box names
// a missing one), then copies the selected groups inside one write batch.
// shown turns the source's return address into the text the copy writes (the
// dialog's memo); the stored text goes as it is when it is empty. Returns
// false when a user is missing or nothing was selected; the copy-in-progress
// guard is set meanwhile.
enum class CopyOutcome { Copied, NothingSelected, UserMissing };
CopyOutcome copyUserSettings(store::Table& from, store::Table& to, const QString& fromWho, const QString& toWho,
                             const CopySelection& selection,
                             const std::function<QString(const QString&)>& shown = {});

// The dialog's messages: a copy onto the same user, and the outcomes.
QString sameUserMessage();
QString copiedMessage(const QString& fromWho, const QString& toWho);
QString nothingCopiedMessage();

} // namespace accounts
