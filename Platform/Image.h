#pragma once

#include "Platform/Export.h"

#include <string>

namespace scrivlet {

// An image made from a named system symbol. The desktop draws it; the code only names it.
struct SCRIVLET_PLATFORM_API Image {
    std::string systemSymbolName;
    std::string accessibilityDescription;

    static Image systemSymbol(std::string name, std::string accessibilityDescription) {
        return Image{std::move(name), std::move(accessibilityDescription)};
    }
    friend bool operator==(const Image&, const Image&) = default;
};

} // namespace scrivlet
