/// \file
/// Long operations of the core (loading, serializing, walking a whole document) call
/// busyTick() as they go. A program can install a handler that keeps its windows
/// painted; the handler runs at most every few tens of milliseconds, so the cost to the
/// operation is nothing when no one listens and next to nothing when someone does.
#pragma once

#include "treelark/export.h"

#include <functional>

namespace treelark {

TREELARK_CORE_EXPORT void setBusyHandler(std::function<void()> handler);
TREELARK_CORE_EXPORT void busyTick();

/// Asks the operation under way to stop at its next tick. Loading stops and fails with
/// DOMError::Cancelled (leaving the caller's document as it was); operations that
/// cannot stop half-way ignore the request. A new load clears it.
TREELARK_CORE_EXPORT void requestCancel();
TREELARK_CORE_EXPORT bool cancelRequested();
TREELARK_CORE_EXPORT void clearCancel();

} ///< namespace treelark
