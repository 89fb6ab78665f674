#pragma once

#include "Platform/Geometry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace scrivlet {

// The window server's list of windows. Bounds are in top-left-origin global coordinates.
// A key the server did not report is nothing.
struct WindowDescription {
    std::optional<std::int64_t> ownerPID;
    std::optional<std::int64_t> layer;
    std::optional<std::int64_t> windowNumber;
    std::optional<CGRect> bounds;
    std::string ownerName;
};

enum WindowListOption : unsigned {
    kCGWindowListOptionAll = 0,
    kCGWindowListOptionOnScreenOnly = 1,
    kCGWindowListOptionOnScreenAboveWindow = 2,
    kCGWindowListOptionOnScreenBelowWindow = 4,
    kCGWindowListOptionIncludingWindow = 8,
    kCGWindowListExcludeDesktopElements = 16,
};

// Front to back. Nothing when the server cannot answer.
std::optional<std::vector<WindowDescription>> CGWindowListCopyWindowInfo(unsigned options,
                                                                         std::uint32_t window);

} // namespace scrivlet
