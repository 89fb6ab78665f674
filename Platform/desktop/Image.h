#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/Geometry.h"

#include <optional>
#include <string>

namespace scrivlet {

// An image made from a named system symbol. The desktop draws it; the code only names it.
struct SCRIVLET_PLATFORM_API Image {
    std::string systemSymbolName;
    std::string accessibilityDescription;

    static Image systemSymbol(std::string name, std::string accessibilityDescription) {
        return Image{std::move(name), std::move(accessibilityDescription)};
    }
    // The symbol when the desktop has it; nothing when it does not.
    static std::optional<Image> imageWithSystemSymbolName(std::string name,
                                                          std::string accessibilityDescription);
    // Draws the image into `rect` of the current drawing context, as the desktop draws it by
    // default.
    void drawInRect(const CGRect& rect) const;

    friend bool operator==(const Image&, const Image&) = default;
};

} // namespace scrivlet
