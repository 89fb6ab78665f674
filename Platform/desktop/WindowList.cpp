#include "Platform/desktop/WindowList.h"

#include "Platform/desktop/DesktopBackend.h"

namespace scrivlet {

namespace {

WindowDescription describe(const WindowServerEntry& window) {
    return WindowDescription{window.ownerPID, window.layer, window.windowNumber, window.bounds,
                             window.ownerName};
}

bool isDesktopElement(const WindowServerEntry& window) {
    return window.layer == kCGDesktopWindowLevel || window.layer == kCGDesktopIconWindowLevel;
}

} // namespace

std::optional<std::vector<WindowDescription>> CGWindowListCopyWindowInfo(unsigned options,
                                                                         std::uint32_t window) {
    const auto windows = DesktopBackend::current().windowList();
    if (!windows) {
        return std::nullopt;
    }
    std::vector<WindowDescription> list;
    if (options & kCGWindowListOptionIncludingWindow) {
        for (const WindowServerEntry& candidate : *windows) {
            if (candidate.windowNumber == window) {
                list.push_back(describe(candidate));
            }
        }
        return list;
    }
    for (const WindowServerEntry& candidate : *windows) {
        if ((options & kCGWindowListOptionOnScreenOnly) && !candidate.onScreen) {
            continue;
        }
        if ((options & kCGWindowListExcludeDesktopElements) && isDesktopElement(candidate)) {
            continue;
        }
        list.push_back(describe(candidate));
    }
    return list;
}

} // namespace scrivlet
