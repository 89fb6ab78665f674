#pragma once

#include "Platform/desktop/DrawnImage.h"

#include <cstdint>
#include <map>
#include <string>

// What every way of turning a recorded badge drawing into a file manager's emblem agrees on.
namespace scrivlet::BadgeDrawing {

// A drawn rectangle with its origin at the top left, as image files and SVG documents have it:
// a drawing's coordinates start at the bottom left unless the image is flipped.
inline CGRect topDown(const CGRect& rect, const DrawnImage& image) {
    const double top = image.isFlipped() ? rect.minY() : image.size().height - rect.maxY();
    return {rect.minX(), top, rect.width(), rect.height()};
}

// A colour of the system palette in its light appearance, as 0xRRGGBB; grey for a name it does
// not have.
inline std::uint32_t paletteRGB(const std::string& name) {
    static const std::map<std::string, std::uint32_t> palette{
        {"systemBlueColor", 0x007aff},
        {"systemOrangeColor", 0xff9500},
    };
    const auto found = palette.find(name);
    return found == palette.end() ? 0x8e8e93 : found->second;
}

} // namespace scrivlet::BadgeDrawing
