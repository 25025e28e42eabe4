#pragma once

#include "tools/demo/Installer.h"

#include <QString>
#include <QTemporaryDir>

// A throw-away installation for one test: made by the demo installer in a
// temporary folder, with the store pointed at it (config, network control
// directory, private directory and the table passwords).
class TestInstall {
public:
    explicit TestInstall(demo::Options options = smallOptions());
    ~TestInstall();
    static demo::Options smallOptions(); // 4 users, 2 databases, few rows, no program files

    QString root() const;
    QString dataDir() const;
    QString netDir() const;
    QString configPath() const;
    bool ok() const;  // false when the installer failed (QVERIFY it)

private:
    QTemporaryDir m_dir;
    demo::Result m_result;
    bool m_ok = false;
};

// A test installation whose change journal is on and empty from the start,
// and off again when the installation goes.
class JournalledInstall : public TestInstall {
public:
    explicit JournalledInstall(demo::Options options = smallOptions());
    ~JournalledInstall();
};
