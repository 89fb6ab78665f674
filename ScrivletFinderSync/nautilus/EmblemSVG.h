#pragma once

#include "Platform/desktop/DrawnImage.h"

#include <set>
#include <string>

namespace scrivlet {

// Turns what a badge's drawing handler recorded into an SVG emblem for an icon theme, drawn
// as the other file manager's emblems are: the system palette's light colours, ovals and
// rectangles, and the system symbols it knows. A theme icon scales to every emblem size.
namespace EmblemSVG {

// The system symbols it can draw.
std::set<std::string> drawableSymbols();

// The whole SVG document of `image`; an image whose handler did not draw is an empty canvas
// of its size.
std::string document(const DrawnImage& image);

// The icon name of the emblem for a badge identifier: "emblem-scrivlet-<identifier>". The file
// manager is given it without the "emblem-" prefix, which it adds when it looks it up.
std::string iconName(const std::string& badgeIdentifier);
std::string emblemName(const std::string& badgeIdentifier);

} // namespace EmblemSVG

} // namespace scrivlet
