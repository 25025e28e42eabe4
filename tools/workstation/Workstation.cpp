#include "tools/workstation/Workstation.h"

#include "shell/Paths.h"
#include "store/Catalogue.h"
#include "store/StoreError.h"
#include "support/Clock.h"

#include <cmath>

namespace {

const QString fMachineName = QStringLiteral("MachineName");

// The settings row's force-off fields.
struct ForceRow {
    bool forced = false;
    QString who;
    QString reason;
    int warn = 3;
};

ForceRow readForceRow(store::Table& settings)
{
    settings.refresh();
    settings.first();
    ForceRow row;
    if (settings.eof())
        return row;
    row.forced = settings.fieldByName(QStringLiteral("ForceOff")).asBoolean();
    row.who = settings.fieldByName(QStringLiteral("forceWho")).asString();
    row.reason = settings.fieldByName(QStringLiteral("forceReason")).asString();
    row.warn = qBound(1, settings.fieldByName(QStringLiteral("forceWarn")).asInteger(), 15);
    return row;
}

} // namespace

Workstation::Workstation(const Options& options, QObject* parent)
    : QObject(parent),
      m_options(options),
      m_settings(catalogue::kAlias, catalogue::kSettings),
      m_contact(catalogue::kAlias, catalogue::kContact),
      m_userPref(catalogue::kAlias, catalogue::kUserPref),
      m_userDb(catalogue::kAlias, catalogue::kUserDb),
      m_usersOn(catalogue::kAlias, catalogue::kUsersOn)
{
    m_poll.setInterval(options.pollMs);
    m_warning.setSingleShot(true);
    // A coarse timer may fire up to 5% early: the users get the whole warning.
    m_warning.setTimerType(Qt::PreciseTimer);
    connect(&m_poll, &QTimer::timeout, this, &Workstation::poll);
    connect(&m_warning, &QTimer::timeout, this, [this] {
        logOut();
        emit finished();
    });
}

Workstation::~Workstation()
{
    try {
        logOut();
    } catch (const std::exception&) {
    }
}

bool Workstation::logIn(QString* why)
{
    m_settings.open();
    const ForceRow force = readForceRow(m_settings);
    if (force.forced) {
        *why = QStringLiteral("users are forced off by %1: %2").arg(force.who, force.reason);
        return false;
    }
    // Kontiva keeps the contact table open while it runs; the utility's
    // "somebody is using Kontiva" test rests on that.
    try {
        m_contact.open();
    } catch (const store::StoreError& e) {
        *why = QStringLiteral("the contact table is not available: %1").arg(e.message());
        return false;
    }
    m_userPref.open();
    for (const QString& who : m_options.who) {
        if (!m_userPref.findKey({who})) {
            m_contact.close();
            *why = QStringLiteral("there is no user %1").arg(who);
            return false;
        }
    }
    m_userDb.open();
    m_usersOn.open();
    m_loggedIn = true;
    for (int i = 0; i < m_options.who.size(); ++i)
        writeLogIn(i);
    return true;
}

// The rows a client writes when a user logs in: the log-in row, the
// database row's last entry and count, and the user's machine.
void Workstation::writeLogIn(int index)
{
    const QString& who = m_options.who[index];
    const QString& machine = m_options.machines[index];
    const double now = support::nowDays();
    const double today = std::floor(now);

    if (m_userDb.findKey({m_options.database, who})) {
        m_userDb.edit();
    } else {
        m_userDb.insert();
        m_userDb.fieldByName(catalogue::fDb).setAsString(m_options.database);
        m_userDb.fieldByName(catalogue::fWho).setAsString(who);
        m_userDb.fieldByName(catalogue::fSyncwellNo).setAsString(shell::newRecordId());
    }
    m_userDb.fieldByName(QStringLiteral("datelastlogin")).setAsDateTime(today);
    m_userDb.fieldByName(QStringLiteral("timelastlogin")).setAsDateTime(now - today);
    store::Field& times = m_userDb.fieldByName(QStringLiteral("ntimes"));
    times.setAsInteger(times.asInteger() + 1);
    m_userDb.post();

    m_userPref.findKey({who});
    m_userPref.edit();
    m_userPref.fieldByName(QStringLiteral("LogInMachineName")).setAsString(machine);
    m_userPref.post();

    m_usersOn.insert();
    m_usersOn.fieldByName(catalogue::fWho).setAsString(who);
    m_usersOn.fieldByName(catalogue::fDb).setAsString(m_options.database);
    m_usersOn.fieldByName(fMachineName).setAsString(machine);
    m_usersOn.fieldByName(QStringLiteral("datelogin")).setAsDateTime(today);
    m_usersOn.fieldByName(QStringLiteral("timelogin")).setAsDateTime(now - today);
    m_usersOn.post();
    emit message(QStringLiteral("logged in: %1 on %2 to %3").arg(who, machine, m_options.database));
}

void Workstation::logOut()
{
    m_poll.stop();
    m_warning.stop();
    if (!m_loggedIn)
        return;
    m_loggedIn = false;
    // Only this workstation's rows: the same user may be on elsewhere too.
    m_usersOn.refresh();
    m_usersOn.first();
    while (!m_usersOn.eof()) {
        const QString who = m_usersOn.fieldByName(catalogue::fWho).asString();
        const int i = m_options.who.indexOf(who);
        if (i >= 0 && m_usersOn.fieldByName(fMachineName).asString() == m_options.machines[i]) {
            m_usersOn.deleteRecord();
            emit message(QStringLiteral("logged out: %1 on %2").arg(who, m_options.machines[i]));
        } else {
            m_usersOn.next();
        }
    }
    m_usersOn.close();
    m_userDb.close();
    m_userPref.close();
    m_contact.close();
    m_settings.close();
}

void Workstation::startPolling()
{
    m_poll.start();
}

void Workstation::poll()
{
    ForceRow force;
    try {
        force = readForceRow(m_settings);
    } catch (const std::exception& e) {
        emit message(QStringLiteral("warning: could not read the settings row: %1").arg(QString::fromUtf8(e.what())));
        return;
    }
    if (force.forced && !m_warning.isActive()) {
        const QString unit = m_options.warnInSeconds ? QStringLiteral("second") : QStringLiteral("minute");
        emit message(QStringLiteral("forced off by %1: %2; logging out in %3 %4%5")
                         .arg(force.who, force.reason)
                         .arg(force.warn)
                         .arg(unit, force.warn == 1 ? QString() : QStringLiteral("s")));
        m_warning.start(force.warn * (m_options.warnInSeconds ? 1000 : 60000));
    } else if (!force.forced && m_warning.isActive()) {
        m_warning.stop();
        emit message(QStringLiteral("allowed back on; staying logged in"));
    }
}
