#include "BenchKit.h"

#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <ctime>
#include <unistd.h>

namespace benchkit {

void addRepeatOption(QCommandLineParser& parser)
{
    parser.addOption({"repeat", "Measure each piece of work N times, store and floor in turn (default 3).", "n", "3"});
}

int repeatFrom(const QCommandLineParser& parser)
{
    bool ok = false;
    const int n = parser.value("repeat").toInt(&ok);
    if (!ok || n < 1)
        fail("--repeat needs a whole number of at least 1");
    return n;
}

double timed(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e9;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void alternate(int repeat, const std::function<void()>& storeRun, const std::function<void()>& floorRun)
{
    for (int i = 0; i < repeat; ++i) {
        storeRun();
        floorRun();
    }
}

void alternate(Line& line, int repeat, const std::function<void()>& store, const std::function<void()>& floor,
               const std::function<void()>& prepare)
{
    auto run = [&](const std::function<void()>& work, std::vector<double>& figures) {
        if (prepare)
            prepare();
        figures.push_back(timed(work));
    };
    alternate(repeat, [&] { run(store, line.store); }, [&] { run(floor, line.floor); });
}

Table::Table(QString title, QString storeName, QString floorName, QString unit)
    : m_title(std::move(title)), m_storeName(std::move(storeName)), m_floorName(std::move(floorName)),
      m_unit(std::move(unit))
{
}

Line& Table::add(const QString& label)
{
    m_lines.push_back({label, {}, {}});
    return m_lines.back();
}

namespace {

// Largest minus smallest figure, as a share of the median.
QString spread(const std::vector<double>& figures)
{
    const double middle = median(figures);
    if (figures.size() < 2 || middle <= 0)
        return QStringLiteral("-");
    const auto [low, high] = std::minmax_element(figures.begin(), figures.end());
    return QString::number(qRound((*high - *low) / middle * 100)) + '%';
}

} // namespace

void Table::print() const
{
    size_t runs = 0;
    for (const Line& line : m_lines)
        runs = std::max({runs, line.store.size(), line.floor.size()});
    std::printf("\n%s (medians of %zu runs, store and floor in turn)\n", qPrintable(m_title), runs);
    const QString storeHead = QString("%1 (%2)").arg(m_storeName, m_unit);
    const QString floorHead = QString("%1 (%2)").arg(m_floorName, m_unit);
    std::printf("%-46s %14s %7s %18s %7s %7s\n", "", qPrintable(storeHead), "spread", qPrintable(floorHead), "spread",
                "ratio");
    for (const Line& line : m_lines) {
        const double store = median(line.store), floor = median(line.floor);
        std::printf("%-46s %14.3f %7s %18.3f %7s %7.2f\n", qPrintable(line.label), store, qPrintable(spread(line.store)),
                    floor, qPrintable(spread(line.floor)), floor > 0 ? store / floor : 0.0);
    }
    std::fflush(stdout);
}

namespace {

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readLine()).section(' ', 0, 2);
}

// Processor ticks of the whole machine since boot: busy ones and all.
bool machineTicks(qint64& busy, qint64& all)
{
    QFile file(QStringLiteral("/proc/stat"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QStringList fields = QString::fromLatin1(file.readLine()).simplified().split(' ');
    if (fields.size() < 8 || fields[0] != QLatin1String("cpu"))
        return false;
    busy = all = 0;
    for (int i = 1; i < fields.size() && i <= 8; ++i) {
        const qint64 ticks = fields[i].toLongLong();
        all += ticks;
        if (i != 4 && i != 5) // idle and waiting for the disk
            busy += ticks;
    }
    return true;
}

double ownProcessorSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

} // namespace

MachineNote::MachineNote() : m_loadBefore(loadAverage()), m_ownSeconds(ownProcessorSeconds())
{
    if (!machineTicks(m_busyTicks, m_allTicks))
        m_busyTicks = m_allTicks = -1;
    std::printf("Machine: %ld cores; load average %s\n", sysconf(_SC_NPROCESSORS_ONLN), qPrintable(m_loadBefore));
    std::fflush(stdout);
}

void MachineNote::print() const
{
    std::printf("\nLoad average before %s, after %s.\n", qPrintable(m_loadBefore), qPrintable(loadAverage()));
    qint64 busy = 0, all = 0;
    if (m_allTicks < 0 || !machineTicks(busy, all) || all <= m_allTicks) {
        std::printf("Whether other programs ran meanwhile is not known.\n");
        return;
    }
    const double tick = 1.0 / double(sysconf(_SC_CLK_TCK));
    const double capacity = double(all - m_allTicks) * tick; // processor seconds of all cores
    const double others = double(busy - m_busyTicks) * tick - (ownProcessorSeconds() - m_ownSeconds);
    const double share = std::max(0.0, others / capacity);
    std::printf("Other programs (a database server on this machine among them) used %.0f%% of the machine's"
                " processor time while it ran: %s.\n",
                share * 100,
                share < 0.1 ? "otherwise idle" : "NOT idle, figures are less certain");
    std::fflush(stdout);
}

} // namespace benchkit
