#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/Geometry.h"

#include <optional>
#include <vector>

namespace scrivlet {

// A display, in global coordinates with the origin at the bottom left of the primary screen.
struct SCRIVLET_PLATFORM_API Screen {
    CGRect frame;
    CGRect visibleFrame; // without the menu bar and the Dock

    static std::vector<Screen> screens();
    // The screen with the keyboard focus; nothing when no screen is attached.
    static std::optional<Screen> main();

    friend bool operator==(const Screen&, const Screen&) = default;
};

} // namespace scrivlet
