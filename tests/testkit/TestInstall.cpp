#include "testkit/TestInstall.h"

#include "testkit/Tables.h"

#include "store/Session.h"
#include "store/StoreError.h"
#include "support/Changes.h"
#include "tools/demo/Layout.h"

#include <QDir>
#include <QFileInfo>
#include <QtGlobal>

TestInstall::TestInstall(demo::Options options)
{
    if (!m_dir.isValid()) {
        qWarning("TestInstall: no temporary folder: %s", qPrintable(m_dir.errorString()));
        return;
    }
    if (options.root.isEmpty())
        options.root = m_dir.path();
    if (options.programDir.isEmpty())
        options.programDir = m_dir.path(); // never beside the test program
    try {
        m_result = demo::install(options);
        if (!options.writeProgramFiles)
            demo::writeStoreConfig(m_result.configPath, m_result.dataDir);
    } catch (const store::StoreError& e) {
        qWarning("TestInstall: %s", qPrintable(e.message()));
        return;
    }

    const QString priv = QDir(m_dir.path()).filePath(QStringLiteral("priv"));
    QDir().mkpath(priv);
    testkit::useStore(m_result.configPath, m_result.netDir);
    store::Session::instance().setPrivateDir(priv);
    m_ok = true;
}

TestInstall::~TestInstall()
{
    // Lets go of this installation's connections before its folder goes.
    store::Session::instance().reset();
}

demo::Options TestInstall::smallOptions()
{
    demo::Options options;
    options.users = 4;
    options.databases = 2;
    options.contacts = 20;
    options.events = 20;
    options.writeProgramFiles = false;
    return options;
}

QString TestInstall::root() const
{
    return m_result.dataDir.isEmpty() ? m_dir.path() : QFileInfo(m_result.dataDir).absolutePath();
}

QString TestInstall::dataDir() const
{
    return m_result.dataDir;
}

QString TestInstall::netDir() const
{
    return m_result.netDir;
}

QString TestInstall::configPath() const
{
    return m_result.configPath;
}

bool TestInstall::ok() const
{
    return m_ok;
}

JournalledInstall::JournalledInstall(demo::Options options) : TestInstall(std::move(options))
{
    if (!ok())
        return;
    support::setJournalActive(true);
    support::resetJournal();
}

JournalledInstall::~JournalledInstall()
{
    support::setJournalActive(false);
}
