#include "treelark/Busy.h"

#include <QElapsedTimer>

namespace treelark {

namespace {

struct BusyState {
    std::function<void()> handler;
    QElapsedTimer sinceLast;
    bool inHandler = false;
};

BusyState& state()
{
    static BusyState s;
    return s;
}

constexpr qint64 kIntervalMs = 40;

} // namespace

void setBusyHandler(std::function<void()> handler)
{
    state().handler = std::move(handler);
    state().sinceLast.start();
}

void busyTick()
{
    BusyState& s = state();
    if (!s.handler || s.inHandler || s.sinceLast.elapsed() < kIntervalMs)
        return;
    s.inHandler = true;
    s.handler();
    s.inHandler = false;
    s.sinceLast.restart();
}

} // namespace treelark
