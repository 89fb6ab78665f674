#include "tools/scenario/ScenarioGeometry.h"

#include "Platform/control/InputText.h"

#include <sstream>

namespace scrivlet {

namespace {

// Far beyond any screen; it keeps a typo from turning into an absurd window.
constexpr double largestCoordinate = 100'000;

} // namespace

std::optional<std::vector<double>> parseScenarioNumbers(std::string_view text,
                                                        std::string_view separators) {
    std::vector<double> numbers;
    for (std::size_t part = 0; part <= separators.size(); ++part) {
        const std::size_t end =
            part < separators.size() ? text.find(separators[part]) : text.size();
        const auto number =
            end == std::string_view::npos
                ? std::nullopt
                : parseDecimalNumber(text.substr(0, end), -largestCoordinate, largestCoordinate);
        if (!number) {
            return std::nullopt;
        }
        numbers.push_back(*number);
        text.remove_prefix(std::min(text.size(), end + 1));
    }
    return numbers;
}

std::optional<CGRect> parseScenarioRect(const std::string& text) {
    const auto numbers = parseScenarioNumbers(text, "x@,");
    if (!numbers) {
        return std::nullopt;
    }
    const auto& n = *numbers;
    return CGRect(n[2], n[3], n[0], n[1]);
}

std::optional<CGPoint> parseScenarioPoint(const std::string& text) {
    const auto numbers = parseScenarioNumbers(text, ",");
    return numbers ? std::optional(CGPoint{(*numbers)[0], (*numbers)[1]}) : std::nullopt;
}

std::optional<CGSize> parseScenarioSize(const std::string& text) {
    const auto numbers = parseScenarioNumbers(text, "x");
    if (!numbers || (*numbers)[0] <= 0 || (*numbers)[1] <= 0) {
        return std::nullopt;
    }
    return CGSize{(*numbers)[0], (*numbers)[1]};
}

std::string describeScenarioRect(const CGRect& rect) {
    std::ostringstream out;
    out << rect.width() << "x" << rect.height() << "@" << rect.minX() << "," << rect.minY();
    return out.str();
}

} // namespace scrivlet
