#include "support/ErrorBox.h"

#include "store/StoreError.h"
#include "store/Table.h"
#include "support/Messages.h"
#include "support/Text.h"

namespace support {

void reportError(const std::exception& error)
{
    QString message;
    if (const auto* storeError = dynamic_cast<const store::StoreError*>(&error))
        message = storeError->message();
    else
        message = QString::fromUtf8(error.what());
    if (message.isEmpty())
        message = uiText(QStringLiteral("An unexpected error occurred."));
    showError(message);
}

void reportStoreFailures()
{
    store::setBatchErrorHandler([](const QString& message) { showError(message); });
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv)
{
    reportStoreFailures();
}

bool Application::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        reportError(error);
    } catch (...) {
        showError(uiText(QStringLiteral("An unexpected error occurred.")));
    }
    return false;
}

} // namespace support
