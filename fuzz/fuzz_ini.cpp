// The INI readers: NETDIR.INI (read by Brisel, rewritten by the set-up
// program) and the store configuration, on any bytes a file may hold.

#include "FuzzStore.h"

#include "shell/NetDirIni.h"

#include <QFile>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void writeFile(const QString& path, const uint8_t* data, size_t size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char*>(data), qint64(size));
}

void fail(const char* what, const QString& detail)
{
    std::fprintf(stderr, "%s: %s\n", what, detail.toUtf8().constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Scratch& s = fuzz::scratch();

    // The store configuration: every alias lookup either finds a path or
    // says which alias has none.
    const QString config = s.root.filePath(QStringLiteral("fuzzed.ini"));
    writeFile(config, data, size);
    store::Session& session = store::Session::instance();
    session.setConfigPath(config);
    for (const QString& alias : {QStringLiteral("NORDA"), QStringLiteral("norda"), QString()}) {
        store::readIniSection(config, alias);
        try {
            if (session.aliasPath(alias).isEmpty())
                fail("an alias path read as empty", alias);
        } catch (const store::StoreError& error) {
            if (!error.message().contains(alias))
                fail("the error does not name the alias", error.message());
        }
    }
    store::readIniValue(config, QStringLiteral("Options"), QStringLiteral("NetDir"), QStringLiteral("xx"));

    // NETDIR.INI: whatever the file held, the set-up program's value is the
    // one Brisel reads back, and no other line of the file is lost.
    const QString programDir = s.root.filePath(QStringLiteral("program"));
    QDir().mkpath(programDir);
    const QString ini = shell::netDirIniPath(programDir);
    writeFile(ini, data, size);
    const QString before = shell::readNetDir(programDir);
    shell::netDirIsSet(before);
    const QString chosen = QStringLiteral("/srv/kontiva/net");
    if (!shell::writeNetDir(programDir, chosen))
        fail("NETDIR.INI could not be rewritten", ini);
    const QString after = shell::readNetDir(programDir);
    if (after != chosen)
        fail("NETDIR.INI reads back another folder", after);
    return 0;
}
