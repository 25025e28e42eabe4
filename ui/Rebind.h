#pragma once

#include <QObject>
#include <QPointer>

namespace ui {

// Moves a receiver from one signal source to another: drops every connection
// from the source held in `held` to the receiver, holds `next` instead and
// lets connectNext make the connections to it (not called for a null source).
// Returns false, changing nothing, when `next` is already held.
template <typename Source, typename ConnectNext>
bool rebind(QObject* receiver, QPointer<Source>& held, Source* next, ConnectNext&& connectNext)
{
    if (held == next)
        return false;
    if (held)
        QObject::disconnect(held.data(), nullptr, receiver, nullptr);
    held = next;
    if (held)
        connectNext(held.data());
    return true;
}

} // namespace ui
