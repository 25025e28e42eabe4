#pragma once

// Saving a row as a window does, and catching what the store reports where
// no caller can catch it.

#include "store/Catalogue.h"
#include "store/ChangeUnit.h"
#include "store/Table.h"
#include "support/Changes.h"

#include <QStringList>

namespace testkit {

// A user dialog's save of a changed full name: the row and its journal row
// in one unit. The row stays in edit when the save fails.
inline void saveFullName(store::Table& users, const QString& name)
{
    users.edit();
    users.fieldByName(catalogue::fFullName).setAsString(name);
    store::ChangeUnit unit(users);
    users.post();
    support::journalfield(users, QStringLiteral("Fullname"), support::ActionField);
    unit.commit();
}

// Failures that no caller can catch (a move that must wait, a batch's
// commit), as the program's error box would show them.
struct ReportedErrors {
    QStringList messages;
    ReportedErrors()
    {
        store::setBatchErrorHandler([this](const QString& m) { messages << m; });
    }
    ~ReportedErrors() { store::setBatchErrorHandler(nullptr); }
    ReportedErrors(const ReportedErrors&) = delete;
    ReportedErrors& operator=(const ReportedErrors&) = delete;
};

} // namespace testkit
