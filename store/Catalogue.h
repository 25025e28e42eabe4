#pragma once

#include "store/Schema.h"

#include <QString>
#include <QStringList>

// The one place that knows the shared tables: their names, keys, the fields
// several windows name, and the table passwords.
namespace catalogue {

inline const QString kAlias = QStringLiteral("NORDA");

inline const QString kUserPref = QStringLiteral("USERPREF.DB");
inline const QString kPerm = QStringLiteral("PERM.DB");
inline const QString kDatabase = QStringLiteral("DATABASE.DB");
inline const QString kUserDb = QStringLiteral("USERDB.DB");
inline const QString kUsersOn = QStringLiteral("USERSON.DB");
inline const QString kSettings = QStringLiteral("SETTINGS.DB");
inline const QString kContact = QStringLiteral("CONTACT.DB");
inline const QString kEvent = QStringLiteral("EVENT.DB");
inline const QString kHoliday = QStringLiteral("holiday.DB");
inline const QString kSteps = QStringLiteral("Steps.DB");
inline const QString kActions = QStringLiteral("actions.DB");
inline const QString kInOut = QStringLiteral("inout.DB");
inline const QString kMarks = QStringLiteral("marks.DB");
inline const QString kMerge = QStringLiteral("merge");      // the change journal, merge.db

// Field names shared by several windows.
inline const QString fWho = QStringLiteral("Who");
inline const QString fDb = QStringLiteral("DB");
inline const QString fFullName = QStringLiteral("FullName");
inline const QString fPassword = QStringLiteral("password");
inline const QString fSuperUser = QStringLiteral("SuperUser");
inline const QString fSyncwellNo = QStringLiteral("syncwellno");
inline const QString fDescription = QStringLiteral("Description");
inline const QString fFirstAction = QStringLiteral("actBrowse");
inline const QString fLastAction = QStringLiteral("actSetupScreen");
inline const QString fFirstSystem = QStringLiteral("sysBroadcast");
inline const QString fLastSystem = QStringLiteral("sysSetupWP");

constexpr int kActionFlagCount = 27;
constexpr int kSystemFlagCount = 49;

// The stored names of the action flags (each begins "Act") and of the system
// flags (each begins "sys"), in list order.
QStringList actionFlagNames();
QStringList systemFlagNames();

// Every table of the catalogue with all its fields and its key, as the demo
// installer creates it.
QList<store::TableDef> tableDefs();
store::TableDef tableDef(const QString& tableName); // raises StoreError for an unknown name

// Table passwords: start-up registers the first two; the force-off dialog the
// third. Which tables each protects is decided by protectingPassword().
QString startupPasswordA();
QString startupPasswordB();
QString forceOffPassword();
QString protectingPassword(const QString& tableName); // empty when unprotected

} // namespace catalogue
