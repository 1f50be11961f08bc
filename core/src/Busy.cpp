#include "treelark/Busy.h"

#include <QElapsedTimer>
#include <QThread>

#include <atomic>

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

std::function<int(const std::function<int()>&)>& longRunner()
{
    static std::function<int(const std::function<int()>&)> runner;
    return runner;
}

} // namespace

void setLongCommandRunner(std::function<int(const std::function<int()>&)> runner) { longRunner() = std::move(runner); }

namespace {

int g_longCommands = 0; // long commands under way (the main thread's)

} // namespace

int runLongCommand(const std::function<int()>& work)
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
    return longRunner() ? longRunner()(work) : work();
}

bool stopRequested() { return g_longCommands > 0 && cancelRequested(); }

void requestCancel() { g_cancel.store(true); }
bool cancelRequested() { return g_cancel.load(std::memory_order_relaxed); }
void clearCancel() { g_cancel.store(false); }

} // namespace treelark
