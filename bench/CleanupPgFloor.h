#pragma once

// bench_cleanup's floor on a server: libpq alone on the installation's
// schema, one transaction, prepared statements.

#include "CleanupFloor.h"
#include "PgFloor.h"

#include "shell/Paths.h"
#include "store/DayCount.h"
#include "support/Changes.h"

#include <QElapsedTimer>

namespace cleanupbench {

class PgFloor : public Floor {
public:
    PgFloor(const QString& connection, const QString& schema) : m_connection(connection), m_schema(schema) {}

    void clearPairRows() override
    {
        benchkit::PgLink link(m_connection);
        link.exec("TRUNCATE " + table("userdb") + ", " + table("perm") + ", " + table("merge"));
    }

    Counts counts() override
    {
        benchkit::PgLink link(m_connection);
        return {link.count(table("userdb")), link.count(table("perm")), link.count(table("merge"))};
    }

    double cleanUp() override
    {
        QElapsedTimer timer;
        timer.start();
        benchkit::PgLink link(m_connection);
        link.exec("BEGIN");
        auto parameter = [](int n) { return "$" + QString::number(n); };
        ensurePairs(link, "userdb", newUserDbRow("false", parameter), 13);
        deleteOrphans(link, "userdb");
        ensurePairs(link, "perm", newPermRow("true", parameter), 10);
        deleteOrphans(link, "perm");
        link.exec("COMMIT");
        return timer.nsecsElapsed() / 1e9;
    }

private:
    QString table(const QString& name) const { return benchkit::pgTable(m_schema, name); }

    void ensurePairs(benchkit::PgLink& link, const QString& target, const NewRow& row, int tableCode)
    {
        benchkit::PgStatement databases(link, "SELECT \"DB\" FROM " + table("database") + " ORDER BY \"DB\"", 0);
        benchkit::PgStatement users(link, "SELECT \"Who\" FROM " + table("userpref") + " ORDER BY \"Who\"", 0);
        benchkit::PgStatement find(link, "SELECT 1 FROM " + table(target) + " WHERE \"DB\" = $1 AND \"Who\" = $2", 2);
        benchkit::PgStatement insert(link, "INSERT INTO " + table(target) + " (" + row.columns.join(',') + ") VALUES (" +
                                               row.values.join(',') + ")",
                                     3);
        benchkit::PgStatement journal(link, "INSERT INTO " + table("merge") +
                                                " (recno, \"dateGMT\", \"time\", who, \"database\", action, fieldname,"
                                                " \"to\", \"DB\") VALUES ($1, $2, $2, '', $3, 2, '', '', $4)",
                                      4);
        const benchkit::PgRows dbs = databases.run();
        for (int d = 0; d < dbs.rows(); ++d) {
            const QByteArray db = dbs.text(d, 0);
            const benchkit::PgRows whos = users.run();
            for (int u = 0; u < whos.rows(); ++u) {
                const QByteArray who = whos.text(u, 0);
                find.bind(1, db);
                find.bind(2, who);
                if (find.run().rows() > 0)
                    continue;
                const QByteArray id = shell::newRecordId().toLatin1();
                insert.bind(1, db);
                insert.bind(2, who);
                insert.bind(3, id);
                insert.run();
                const QByteArray stamp =
                    store::dateTimeFromDays(support::gmtnow()).toString("yyyy-MM-dd HH:mm:ss.zzz").toLatin1();
                journal.bind(1, id);
                journal.bind(2, stamp);
                journal.bind(3, qint64(tableCode));
                journal.bind(4, db.left(8));
                journal.run();
            }
        }
    }

    void deleteOrphans(benchkit::PgLink& link, const QString& target)
    {
        benchkit::PgStatement walk(link, "SELECT rowid, \"DB\", \"Who\" FROM " + table(target) + " ORDER BY \"DB\", \"Who\"", 0);
        benchkit::PgStatement findDb(link, "SELECT 1 FROM " + table("database") + " WHERE \"DB\" = $1", 1);
        benchkit::PgStatement findUser(link, "SELECT 1 FROM " + table("userpref") + " WHERE \"Who\" = $1", 1);
        benchkit::PgStatement remove(link, "DELETE FROM " + table(target) + " WHERE rowid = $1", 1);
        const benchkit::PgRows rows = walk.run();
        for (int i = 0; i < rows.rows(); ++i) {
            findDb.bind(1, rows.text(i, 1));
            const bool dbFound = findDb.run().rows() > 0;
            findUser.bind(1, rows.text(i, 2));
            const bool userFound = findUser.run().rows() > 0;
            if (!dbFound || !userFound) {
                remove.bind(1, rows.integer(i, 0));
                remove.run();
            }
        }
    }

    QString m_connection;
    QString m_schema;
};

} // namespace cleanupbench
