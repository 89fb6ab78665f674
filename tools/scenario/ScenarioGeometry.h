#pragma once

#include "Platform/base/Geometry.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scrivlet {

// Rectangles in scenario text: "WIDTHxHEIGHT@X,Y". Which corner X,Y names depends on the verb.
std::optional<CGRect> parseScenarioRect(const std::string& text);
std::string describeScenarioRect(const CGRect& rect);
// "X,Y", and "WIDTHxHEIGHT" with both above zero.
std::optional<CGPoint> parseScenarioPoint(const std::string& text);
std::optional<CGSize> parseScenarioSize(const std::string& text);

// The numbers between the separators, in order: "800x600@100,50" with "x@," gives four.
// Nothing when a separator is missing or a part is not a coordinate (a decimal within
// ±100000 points).
std::optional<std::vector<double>> parseScenarioNumbers(std::string_view text,
                                                        std::string_view separators);

} // namespace scrivlet
