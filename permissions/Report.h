#pragma once

// The permission report without windows: what one user may do, who may do
// one thing in one database, and every stored permission of the installation
// as rows. The window, the printout and the command-line program all call
// these; the writers (CSV, JSON, the printable document) are in
// ReportFormat.h.
//
// Values are read as the store holds them: a blank boolean field reads as not
// granted in the user's report (as the dialogs show it), and as "no value" in
// the full report's rows, where a pair without a permission row also has no
// value. A supervisor's stored permissions are reported as stored; the
// supervisor flag overrides the false ones in the clients, which the report
// says (the database dialog's warning, and whoCan's reason).
//
// Every function reads through the store and needs the table passwords
// registered (start-up does it); it raises ReportError for a user, database
// or field that is not there and StoreError for a failure of the store.

#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>
#include <stdexcept>

namespace permissions {

class ReportError : public std::runtime_error {
public:
    explicit ReportError(const QString& message) : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString& message() const noexcept { return m_message; }

private:
    QString m_message;
};

// One permission as the report names it: the stored field name, its caption
// as the dialogs show it, and its value.
struct Flag {
    QString field;
    QString caption;
    bool value = false;
};

// A row of the "Data" page's grid: one kind of record, four operations.
struct KindGrant {
    QString caption; // "Contacts", "Notes", ...
    bool view = false;
    bool add = false;
    bool change = false;
    bool remove = false;
};

// The user's rights in one database the user has access to.
struct DatabaseGrant {
    QString db;
    QString description;
    QVector<KindGrant> kinds; // the eight kinds, in the dialog's order
    QVector<Flag> tabs;       // the 13 tab flags, in the dialog's order
    QVector<Flag> actions;    // the 27 actions, in list order
};

// What one user may do.
struct UserReport {
    QString who;
    QString fullName;
    bool superUser = false;
    QVector<DatabaseGrant> databases; // those with Access, in key order
    QStringList noAccess;             // databases whose Access is false or blank
    QStringList noRow;                // databases without a permission row for the user
    QVector<Flag> systemFlags;        // the 49 system flags, in list order
    // The supervisor's flag overrides a false permission somewhere in the
    // report: the report gives databaseSupervisorWarning().
    bool supervisorWarning = false;
};

// The report of user who (exact ID); with db, of that database alone.
UserReport userReport(const QString& who, const QString& db = QString());

// A user who may use one permission of one database.
struct AllowedUser {
    QString who;
    QString fullName;
    bool superUser = false;
    // Access and the permission are both true in the stored row; false for a
    // supervisor whose row denies it (the supervisor flag overrides that).
    bool byPermission = false;
};

struct WhoCan {
    QString db;
    QString field;   // as stored (the name given may differ in case)
    QString section; // "Data", "Visible Tabs" or "Actions", as the dialog's pages
    QString caption;
    QVector<AllowedUser> users; // in key order of the user table
    // The other users without a permission row for the database: not allowed
    // now, but the row is made granting everything when the database
    // permissions are opened or at the exit clean-up.
    QVector<AllowedUser> noRow;
};

// The users allowed field (a boolean field of PERM.DB, named in any case) in
// database db: the supervisors, and every user whose row grants both Access
// and the field; and apart, the users without a row.
WhoCan whoCan(const QString& db, const QString& field);

// One permission of one user in the full report. db is empty for the system
// flags and the supervisor flag. value is empty for a blank field and for a
// pair without a permission row.
struct ReportRow {
    QString who;
    QString fullName;
    bool superUser = false;
    QString db;
    QString section; // "Data", "Visible Tabs", "Actions", "System", "Supervisor"
    QString field;
    QString caption;
    std::optional<bool> value;
};

// Every user (key order) x every database (key order) x every permission of a
// permission row, then the user's 49 system flags and the supervisor flag.
QVector<ReportRow> fullReport();

// The rows of one user's report: for each database with access every
// permission; for the others their Access alone; then the system flags and
// the supervisor flag.
QVector<ReportRow> userReportRows(const UserReport& report);

// A permission of a permission row: its stored name, the dialog page it is
// on and its caption there.
struct PermissionField {
    QString field;
    QString section;
    QString caption;
};
// Access, the 32 record-kind flags, the 13 tab flags and the 27 actions, in
// the dialog's order, as PERM.DB names them.
QVector<PermissionField> permissionFields();

// The section names, as the dialogs' pages and windows call them.
QString sectionData();
QString sectionTabs();
QString sectionActions();
QString sectionSystem();
QString sectionSupervisor();

} // namespace permissions
