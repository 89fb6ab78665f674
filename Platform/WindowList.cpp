#include "Platform/WindowList.h"

#include "Platform/Services.h"
#include "Platform/simulated/Desktop.h"

namespace scrivlet {

namespace {

WindowDescription describe(const SimulatedWindow& window) {
    return WindowDescription{window.ownerPID, window.layer, window.windowNumber, window.bounds,
                             window.ownerName};
}

} // namespace

std::optional<std::vector<WindowDescription>> CGWindowListCopyWindowInfo(unsigned options,
                                                                         std::uint32_t window) {
    std::vector<WindowDescription> list;
    const auto& windows = Services::current().desktop().windows();
    if (options & kCGWindowListOptionIncludingWindow) {
        for (const SimulatedWindow& candidate : windows) {
            if (candidate.windowNumber == window) {
                list.push_back(describe(candidate));
            }
        }
        return list;
    }
    for (const SimulatedWindow& candidate : windows) {
        if ((options & kCGWindowListOptionOnScreenOnly) && !candidate.onScreen) {
            continue;
        }
        list.push_back(describe(candidate));
    }
    return list;
}

} // namespace scrivlet
