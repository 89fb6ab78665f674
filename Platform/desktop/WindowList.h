#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/Geometry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace scrivlet {

// The window server's list of windows. Bounds are in top-left-origin global coordinates.
// A key the server did not report is nothing.
struct SCRIVLET_PLATFORM_API WindowDescription {
    std::optional<std::int64_t> ownerPID;
    std::optional<std::int64_t> layer;
    std::optional<std::int64_t> windowNumber;
    std::optional<CGRect> bounds;
    std::string ownerName;
};

// A window as the window server knows it, before the caller's options filter the list.
// Bounds are in top-left-origin global coordinates.
struct SCRIVLET_PLATFORM_API WindowServerEntry {
    std::uint32_t windowNumber = 0;
    std::int64_t ownerPID = 0;
    std::string ownerName;
    std::int64_t layer = 0;
    CGRect bounds;
    bool onScreen = true;
};

enum WindowListOption : unsigned {
    kCGWindowListOptionAll = 0,
    kCGWindowListOptionOnScreenOnly = 1,
    kCGWindowListOptionOnScreenAboveWindow = 2,
    kCGWindowListOptionOnScreenBelowWindow = 4,
    kCGWindowListOptionIncludingWindow = 8,
    kCGWindowListExcludeDesktopElements = 16,
};

// The layers of the desktop picture and of Finder's desktop icons: the windows that
// kCGWindowListExcludeDesktopElements leaves out.
constexpr std::int64_t kCGDesktopWindowLevel = -2147483623;
constexpr std::int64_t kCGDesktopIconWindowLevel = -2147483603;

// Front to back. Nothing when the server cannot answer.
SCRIVLET_PLATFORM_API std::optional<std::vector<WindowDescription>>
CGWindowListCopyWindowInfo(unsigned options, std::uint32_t window);

} // namespace scrivlet
