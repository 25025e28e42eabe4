#pragma once

#include <QString>
#include <functional>

namespace store { class Table; }

// The force-off row of SETTINGS.DB without the dialog: its fields, reading
// it, and the two switches the clients obey. The force-off dialog and the
// command-line program write it through these.
namespace login {

inline const QString fForceOff = QStringLiteral("ForceOff");
inline const QString fForceWho = QStringLiteral("forceWho");
inline const QString fForceDate = QStringLiteral("forceDate");
inline const QString fForceTime = QStringLiteral("forceTime");
inline const QString fForceReason = QStringLiteral("forceReason");
inline const QString fForceWarn = QStringLiteral("forceWarn");
inline const QString fForceWav = QStringLiteral("ForceWav");
inline const QString fForcePlay = QStringLiteral("ForcePlay");
inline const QString fForceRepeat = QStringLiteral("ForceRepeat");

constexpr int kDefaultWarnMinutes = 3;
constexpr int kMinWarnMinutes = 1;
constexpr int kMaxWarnMinutes = 15;

// The values of a row that does not exist yet.
void setForceDefaults(store::Table& settings);

// Reads the settings row afresh (settings must be open). An empty table gives
// a pending new row with the defaults, which only writeForceRow creates.
void readForceRow(store::Table& settings);

// Saves the row with the fields setFields writes. A pending new row is made
// only if the table is still empty, in the same unit as the write (there is
// never a second row, which the clients would not read); onFreshRow then
// runs on the row found or made before setFields.
void writeForceRow(store::Table& settings, const std::function<void()>& setFields,
                   const std::function<void()>& onFreshRow = {});

// The fields of the two switches, on a row being edited.
void setForcedOff(store::Table& settings, const QString& who, const QString& reason, int warnMinutes);
void setAllowedOn(store::Table& settings);

// The dialog's texts for the same refusals and outcomes.
QString forceWhoBlankMessage();
QString forceReasonBlankMessage();
QString forcedOffMessage();
QString allowedOnMessage();

} // namespace login
