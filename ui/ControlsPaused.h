#pragma once

#include "store/Table.h"

#include <QList>

#include <utility>

namespace ui {

// Stops tables from notifying their bound controls and lets them again on
// every path, so that an error in a walk does not leave the windows frozen.
class ControlsPaused {
public:
    explicit ControlsPaused(QList<store::Table*> tables) : m_tables(std::move(tables))
    {
        for (store::Table* t : m_tables)
            t->disableControls();
    }
    ~ControlsPaused()
    {
        for (store::Table* t : m_tables)
            t->enableControls();
    }
    ControlsPaused(const ControlsPaused&) = delete;
    ControlsPaused& operator=(const ControlsPaused&) = delete;

private:
    QList<store::Table*> m_tables;
};

} // namespace ui
