// Bookkeeping of the program's windows ("forms") and small menu helpers.
#pragma once

#include <QList>
#include <QString>

class QAction;
class QWidget;

namespace treelark {

// Every form registers itself when it is created and is forgotten when destroyed, so
// the program knows which windows are loaded and in what order.
void registerForm(QWidget* form);
QList<QWidget*> loadedForms();

// Closes (and deletes) every loaded form but `keep`, most recently loaded first.
// Returns true when at least one was closed; false when at most one form is loaded.
bool UnloadAllForms(QWidget* keep);

// The first entry whose caption is exactly `caption`, or nullptr.
QAction* FindMenuByCaption(const QList<QAction*>& entries, const QString& caption);

} // namespace treelark
