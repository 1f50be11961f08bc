// Esc pressed the moment a long command starts: while one of these is alive, every
// command run through runLongCommand is asked to stop as it begins.
#pragma once

#include "treelark/Busy.h"
#include "treelark/dom.h"

#include <functional>

namespace testsupport {

struct StopEveryLongCommand {
    StopEveryLongCommand()
    {
        treelark::setLongCommandRunner([](const std::function<void()>& work) {
            treelark::requestCancel();
            work();
        });
    }
    ~StopEveryLongCommand() { treelark::setLongCommandRunner(nullptr); }
    StopEveryLongCommand(const StopEveryLongCommand&) = delete;
    StopEveryLongCommand& operator=(const StopEveryLongCommand&) = delete;
};

// What `work` run as a long command ends with: the DOMError it threw, 0 for none.
inline int errorOfLongCommand(const std::function<void()>& work)
{
    try {
        treelark::runLongCommand(work);
    } catch (const treelark::DOMException& e) {
        return int(e.code());
    }
    return 0;
}

} // namespace testsupport
