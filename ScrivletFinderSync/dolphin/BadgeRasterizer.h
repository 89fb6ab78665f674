#pragma once

#include "Platform/desktop/DrawnImage.h"

#include <filesystem>
#include <set>
#include <string>
#include <system_error>

namespace scrivlet {

// Turns what a badge's drawing handler recorded into pixels, as the desktop shows it: fills in
// the system palette's colours, ovals and rectangles, and the system symbols it knows.
namespace BadgeRasterizer {

// The system symbols it can draw.
std::set<std::string> drawableSymbols();

// Draws `image` at `pixels` by `pixels` and writes it as a PNG to `file`, replacing it in one
// step, so that a reader never sees half a file.
std::error_code writePNG(const DrawnImage& image, int pixels, const std::filesystem::path& file);

// A short name for what `image` draws (hex digits); a drawing that changes gets a new name, so
// an image cached under the old one is never shown for it.
std::string drawingFingerprint(const DrawnImage& image);

} // namespace BadgeRasterizer

} // namespace scrivlet
