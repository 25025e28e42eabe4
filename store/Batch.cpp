#include "store/Connection.h"
#include "store/Outbox.h"
#include "store/StoreError.h"
#include "store/Table.h"

#include <QCoreApplication>
#include <QTimer>
#include <QtGlobal>

#include <memory>

namespace store {

namespace {

std::function<void(const QString&)>& errorHandler()
{
    static std::function<void(const QString&)> handler;
    return handler;
}

// Commits stale batch transactions while the program processes events
// (a progress loop, a retry pause), so that a batch that waits keeps no file
// locked beyond the window.
std::unique_ptr<QTimer>& batchTimer()
{
    static std::unique_ptr<QTimer> timer;
    return timer;
}

void startTimer()
{
    if (!QCoreApplication::instance() || batchTimer())
        return;
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(Connection::kBatchWindowMs / 4);
    QObject::connect(timer.get(), &QTimer::timeout, [] {
        try {
            Connection::commitStale();
        } catch (const StoreError& e) {
            reportBatchError(e.message());
        }
    });
    timer->start();
    batchTimer() = std::move(timer);
}

} // namespace

void setBatchErrorHandler(std::function<void(const QString&)> handler)
{
    errorHandler() = std::move(handler);
}

void reportBatchError(const QString& message)
{
    if (errorHandler())
        errorHandler()(message);
    else
        qCritical("%s", qPrintable(message));
}

WriteBatch::WriteBatch()
{
    Connection::enterBatch();
    startTimer();
}

WriteBatch::~WriteBatch()
{
    Connection::leaveBatch();
    if (Connection::batchAlive())
        return;
    batchTimer().reset();
    try {
        commit();
    } catch (const StoreError& e) {
        // Destructors must not throw, but a lost commit must never pass
        // unnoticed.
        reportBatchError(e.message());
    }
    finishOutboxes();
}

void WriteBatch::commit()
{
    Connection::commitStale(true);
}

bool WriteBatch::active()
{
    return Connection::batchAlive();
}

void flushBatches()
{
    try {
        Connection::commitStale(true);
    } catch (const StoreError& e) {
        reportBatchError(e.message());
    }
}

} // namespace store
