/// \file
/// Long operations of the core (loading, serializing, walking a whole document) call
/// busyTick() as they go. A program can install a handler that keeps its windows
/// painted; the handler runs at most every few tens of milliseconds, so the cost to the
/// operation is nothing when no one listens and next to nothing when someone does.
#pragma once

#include "treelark/export.h"

#include <functional>
#include <vector>

namespace treelark {

TREELARK_CORE_EXPORT void setBusyHandler(std::function<void()> handler);
TREELARK_CORE_EXPORT void busyTick();

/// Asks the operation under way to stop at its next tick. Loading stops and fails with
/// DOMError::Cancelled (leaving the caller's document as it was); operations that
/// cannot stop half-way ignore the request. A new load clears it.
TREELARK_CORE_EXPORT void requestCancel();
TREELARK_CORE_EXPORT bool cancelRequested();
TREELARK_CORE_EXPORT void clearCancel();

/// Runs `work` as one of the program's long commands: under the busy indicator and the
/// Cancel the program installed with setLongCommandRunner (its windows painted, input held
/// but for Cancel), or as it is when none was installed. What `work` throws comes out of
/// runLongCommand once the runner is done, so a runner need not expect exceptions.
/// A stop asked for before it starts or after it ends is forgotten; while it runs, the
/// core's long steps that can be taken back (copying a subtree, a merge, a save) stop on
/// it and throw DOMError::Cancelled (see throwIfStopped in dom.h).
TREELARK_CORE_EXPORT void setLongCommandRunner(std::function<void(const std::function<void()>&)> runner);
TREELARK_CORE_EXPORT void runLongCommand(const std::function<void()>& work);
/// Whether the user asked the long command under way to stop (never outside one).
TREELARK_CORE_EXPORT bool stopRequested();

/// Frees a big list a little at a time, ticking as it goes: a hundred thousand entries
/// holding strings and node handles take long enough to free to hold a window still.
template <class T> void releaseWhileBusy(std::vector<T>& items)
{
    for (size_t left = items.size(); left > 0; --left) {
        items.pop_back();
        if ((left & 0x3FF) == 0)
            busyTick();
    }
    std::vector<T>().swap(items);
}

} ///< namespace treelark
