#include "store/Session.h"

#include "store/Connection.h"
#include "store/StoreError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace store {

Session& Session::instance()
{
    static Session session;
    return session;
}

void Session::setNetFileDir(const QString& dir) { m_netFileDir = dir; }
QString Session::netFileDir() const { return m_netFileDir; }
void Session::setPrivateDir(const QString& dir) { m_privateDir = dir; }
QString Session::privateDir() const { return m_privateDir; }

void Session::addPassword(const QString& password)
{
    if (!m_passwords.contains(password))
        m_passwords.append(password);
}

QStringList Session::passwords() const { return m_passwords; }

void Session::setBusyTimeout(int milliseconds) { m_busyTimeout = qMax(0, milliseconds); }
int Session::busyTimeout() const { return m_busyTimeout; }

void Session::setServerTimeout(int milliseconds) { m_serverTimeout = qMax(1, milliseconds); }
int Session::serverTimeout() const { return m_serverTimeout; }

void Session::setConfigPath(const QString& path)
{
    m_configPath = path;
    m_cachedConfig.clear();
    m_aliasCache.clear();
}

QString Session::configPath() const
{
    return m_configPath.isEmpty() ? defaultConfigPath() : m_configPath;
}

QString Session::defaultConfigPath()
{
    const QString fromEnv = qEnvironmentVariable("BRISEL_STORE_CONFIG");
    if (!fromEnv.isEmpty())
        return fromEnv;
    const QString dir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                     : QDir::currentPath();
    return QDir(dir).filePath(QStringLiteral("brisel-store.ini"));
}

QStringList Session::getAliasParams(const QString& alias) const
{
    const QString path = configPath();
    if (path != m_cachedConfig) {
        m_aliasCache.clear();
        m_cachedConfig = path;
    }
    const QString key = alias.toUpper();
    auto it = m_aliasCache.constFind(key);
    if (it == m_aliasCache.constEnd())
        it = m_aliasCache.insert(key, readIniSection(path, alias));
    return it.value();
}

bool Session::netFileDirUsable() const
{
    if (m_netFileDir.trimmed().isEmpty())
        return false;
    // Asked afresh each time: the directory can be removed or re-made while
    // the program runs.
    return QFileInfo(m_netFileDir).isDir();
}

QString Session::aliasParam(const QString& alias, const QString& name) const
{
    // The last line with the key wins; only the whole key counts.
    QString value;
    for (const QString& line : getAliasParams(alias)) {
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && line.left(eq).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            value = line.mid(eq + 1).trimmed();
    }
    return value;
}

std::optional<ServerAlias> Session::serverOf(const QString& alias) const
{
    const QString engine = aliasParam(alias, QStringLiteral("ENGINE"));
    if (engine.isEmpty() || engine.compare(QLatin1String("sqlite"), Qt::CaseInsensitive) == 0)
        return std::nullopt;
    if (engine.compare(QLatin1String("postgresql"), Qt::CaseInsensitive) != 0)
        throw StoreError(QStringLiteral("The alias %1 names the engine %2 in %3; Brisel knows sqlite and postgresql.")
                             .arg(alias, engine, QDir::toNativeSeparators(configPath())));
    ServerAlias server;
    server.connection = aliasParam(alias, QStringLiteral("CONNECTION"));
    server.schema = aliasParam(alias, QStringLiteral("SCHEMA"));
    if (server.schema.isEmpty())
        server.schema = alias.toLower();
    if (server.connection.isEmpty())
        throw StoreError(QStringLiteral("The alias %1 is on a database server but has no CONNECTION in %2.")
                             .arg(alias, QDir::toNativeSeparators(configPath())));
    return server;
}

QString Session::aliasPath(const QString& alias) const
{
    const QString path = aliasParam(alias, QStringLiteral("PATH"));
    if (path.isEmpty())
        throw StoreError(QStringLiteral("The alias %1 has no data directory (no PATH in %2).")
                             .arg(alias, QDir::toNativeSeparators(configPath())));
    return path;
}

void Session::reset()
{
    Connection::closeIdle();
    m_netFileDir.clear();
    m_privateDir.clear();
    m_passwords.clear();
    m_configPath.clear();
    m_busyTimeout = 5000;
    m_serverTimeout = kDefaultServerTimeout;
    m_cachedConfig.clear();
    m_aliasCache.clear();
}

QString tableFileName(const QString& tableName)
{
    QString name = tableName.trimmed().toLower();
    if (!name.endsWith(QLatin1String(".db")))
        name += QLatin1String(".db");
    return name;
}

QString tableFilePath(const QString& alias, const QString& tableName)
{
    return QDir(Session::instance().aliasPath(alias)).filePath(tableFileName(tableName));
}

namespace {

// Calls visit(sectionName, line) for every key line of the file.
template <typename Visit>
void walkIni(const QString& path, Visit visit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    QTextStream in(&file);
    QString section;
    while (!in.atEnd()) {
        const QString line = iniLine(in.readLine());
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        if (!visit(section, line))
            return;
    }
}

} // namespace

QString iniLine(const QString& line)
{
    // A byte order mark that is not the file's first (a file joined from
    // two, or edited by a tool that added its own) is no part of the line;
    // written back at the start of a file it would become one.
    qsizetype start = 0;
    while (start < line.size() && line.at(start) == QChar(0xFEFF))
        ++start;
    return line.mid(start).trimmed();
}

QString readIniValue(const QString& path, const QString& section, const QString& key,
                     const QString& defaultValue)
{
    QString result = defaultValue;
    walkIni(path, [&](const QString& sec, const QString& line) {
        if (sec.compare(section, Qt::CaseInsensitive) != 0)
            return true;
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq < 0 || line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) != 0)
            return true;
        result = line.mid(eq + 1).trimmed();
        return false; // the first occurrence wins
    });
    return result;
}

QStringList readIniSection(const QString& path, const QString& section)
{
    QStringList lines;
    walkIni(path, [&](const QString& sec, const QString& line) {
        if (sec.compare(section, Qt::CaseInsensitive) == 0 && line.contains(QLatin1Char('='))) {
            const int eq = line.indexOf(QLatin1Char('='));
            lines.append(line.left(eq).trimmed() + QLatin1Char('=') + line.mid(eq + 1).trimmed());
        }
        return true;
    });
    return lines;
}

} // namespace store
