#pragma once

// bench_store's floor on a server: libpq alone on the installation's schema.

#include "PgFloor.h"
#include "StoreFloor.h"

#include <QDateTime>

namespace storebench {

class PgFloor : public Floor {
public:
    PgFloor(const QString& connection, const QString& schema)
        : m_connection(connection), m_schema(schema), m_keeper(connection)
    {
    }

    // In pages of 10,000 rows by rowid, one prepared statement.
    qint64 walk() override
    {
        benchkit::PgLink link(m_connection);
        link.exec("BEGIN");
        benchkit::PgStatement page(link, "SELECT rowid, recno, \"DB\", \"Who\", \"Company\", \"Contact\", \"Phone\", \"City\""
                                         " FROM " + table("contact") + " WHERE rowid > $1 ORDER BY rowid LIMIT 10000", 1);
        qint64 chars = 0;
        qint64 last = 0;
        for (;;) {
            page.bind(1, last);
            const benchkit::PgRows rows = page.run();
            for (int i = 0; i < rows.rows(); ++i)
                chars += QString::fromUtf8(rows.value(i, 3), rows.length(i, 3)).size();
            if (rows.rows() < 10000)
                break;
            last = rows.integer(rows.rows() - 1, 0);
        }
        link.exec("COMMIT");
        return chars;
    }

    int lookups(const QVector<Key>& keys) override
    {
        benchkit::PgLink link(m_connection);
        link.exec("BEGIN");
        benchkit::PgStatement user(link, "SELECT * FROM " + table("userpref") + " WHERE \"Who\" = $1", 1);
        benchkit::PgStatement perm(link, "SELECT * FROM " + table("perm") + " WHERE \"DB\" = $1 AND \"Who\" = $2", 2);
        int found = 0;
        for (const Key& k : keys) {
            const QByteArray who = k.who.toUtf8(), db = k.db.toUtf8();
            user.bind(1, who);
            found += user.run().rows() > 0;
            perm.bind(1, db);
            perm.bind(2, who);
            found += perm.run().rows() > 0;
        }
        link.exec("COMMIT");
        return found;
    }

    void edit(int n, const QByteArray& city) override
    {
        benchkit::PgLink link(m_connection);
        link.exec("BEGIN");
        benchkit::PgStatement walk(link, "SELECT rowid, recno, \"DB\" FROM " + table("contact") + " ORDER BY rowid LIMIT $1", 1);
        benchkit::PgStatement update(link, "UPDATE " + table("contact") + " SET \"City\" = $1 WHERE rowid = $2", 2);
        benchkit::PgStatement journal(link, "INSERT INTO " + table("merge") +
                                                " (recno, \"dateGMT\", \"time\", who, \"database\", action, fieldname, \"to\", \"DB\")"
                                                " VALUES ($1, $2, $2, '', 0, 0, 'City', $3, $4)",
                                      4);
        walk.bind(1, qint64(n));
        const benchkit::PgRows rows = walk.run();
        const QByteArray now = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss.zzz").toUtf8();
        update.bind(1, city);
        journal.bind(2, now);
        journal.bind(3, city);
        for (int i = 0; i < rows.rows(); ++i) {
            update.bind(2, rows.integer(i, 0));
            update.run();
            journal.bind(1, rows.text(i, 1));
            if (rows.isNull(i, 2))
                journal.bindNull(4);
            else
                journal.bind(4, rows.text(i, 2));
            journal.run();
        }
        link.exec("COMMIT");
    }

    // The kept cities live in a temporary table of a connection of its own.
    void keepCities(int n) override
    {
        m_keeper.exec("DROP TABLE IF EXISTS kept_city");
        m_keeper.exec(QString("CREATE TEMP TABLE kept_city AS SELECT rowid AS r, \"City\" FROM %1 ORDER BY rowid LIMIT %2")
                          .arg(table("contact"))
                          .arg(n));
        m_journalMark = m_keeper.exec("SELECT coalesce(max(rowid), 0) FROM " + table("merge")).integer(0, 0);
    }

    void putCitiesBack() override
    {
        m_keeper.exec("UPDATE " + table("contact") + " c SET \"City\" = k.\"City\" FROM kept_city k WHERE c.rowid = k.r");
        m_keeper.exec("DELETE FROM " + table("merge") + " WHERE rowid > " + QString::number(m_journalMark));
        // The dead rows the edits left would otherwise be cleared in the
        // middle of a later run.
        m_keeper.exec("VACUUM " + table("contact") + ", " + table("merge"));
    }

    qint64 rowsWithCity(const QString& city) override
    {
        benchkit::PgLink link(m_connection);
        benchkit::PgStatement count(link, "SELECT count(*) FROM " + table("contact") + " WHERE \"City\" = $1", 1);
        count.bind(1, city.toUtf8());
        return count.run().integer(0, 0);
    }

    qint64 journalRows() override
    {
        benchkit::PgLink link(m_connection);
        return link.count(table("merge"));
    }

private:
    QString table(const QString& name) const { return benchkit::pgTable(m_schema, name); }

    QString m_connection;
    QString m_schema;
    benchkit::PgLink m_keeper;
    qint64 m_journalMark = 0;
};

} // namespace storebench
