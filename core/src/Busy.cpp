#include "treelark/Busy.h"
#include "treelark/dom.h"

#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <exception>

namespace treelark {

namespace {

struct BusyState {
    std::function<void()> handler;
    QThread* owner = nullptr; // the handler runs only on the thread that installed it
    QElapsedTimer sinceLast;
    bool inHandler = false;
};

BusyState& state()
{
    static BusyState s;
    return s;
}

// A window that waits longer than a tenth of a second feels stuck; ticks come in strides
// of their own between checks, so the handler runs well before that.
constexpr qint64 kIntervalMs = 25;

std::atomic<bool> g_cancel{false};

} // namespace

void setBusyHandler(std::function<void()> handler)
{
    state().handler = std::move(handler);
    state().owner = QThread::currentThread();
    state().sinceLast.start();
}

void busyTick()
{
    BusyState& s = state();
    // The thread is checked first: other threads (an index built beside a load) tick too,
    // and must not even read the clock the owner keeps.
    if (QThread::currentThread() != s.owner || !s.handler || s.inHandler || s.sinceLast.elapsed() < kIntervalMs)
        return;
    s.inHandler = true;
    s.handler();
    s.inHandler = false;
    s.sinceLast.restart();
}

namespace {

std::function<void(const std::function<void()>&)>& longRunner()
{
    static std::function<void(const std::function<void()>&)> runner;
    return runner;
}

int g_longCommands = 0; // long commands under way (the main thread's)

} // namespace

void setLongCommandRunner(std::function<void(const std::function<void()>&)> runner)
{
    longRunner() = std::move(runner);
}

void runLongCommand(const std::function<void()>& work)
{
    clearCancel();
    ++g_longCommands;
    struct Leave {
        ~Leave()
        {
            --g_longCommands;
            clearCancel();
        }
    } leave;
    std::exception_ptr failure;
    const auto guarded = [&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    };
    if (longRunner())
        longRunner()(guarded);
    else
        guarded();
    if (failure)
        std::rethrow_exception(failure);
}

bool stopRequested() { return g_longCommands > 0 && cancelRequested(); }

void throwIfStopped()
{
    if (stopRequested())
        throw DOMException(DOMError::Cancelled, QStringLiteral("Stopped; the document is as it was."));
}

void requestCancel() { g_cancel.store(true); }
bool cancelRequested() { return g_cancel.load(std::memory_order_relaxed); }
void clearCancel() { g_cancel.store(false); }

} // namespace treelark
