#pragma once

#include "Platform/Geometry.h"

#include <optional>
#include <string>

namespace scrivlet {

// Rectangles in scenario text: "WIDTHxHEIGHT@X,Y". Which corner X,Y names depends on the verb.
std::optional<CGRect> parseScenarioRect(const std::string& text);
std::string describeScenarioRect(const CGRect& rect);

} // namespace scrivlet
