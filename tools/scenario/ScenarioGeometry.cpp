#include "scenario/ScenarioGeometry.h"

#include <sstream>

namespace scrivlet {

std::optional<CGRect> parseScenarioRect(const std::string& text) {
    double width = 0, height = 0, x = 0, y = 0;
    char times = 0, at = 0, comma = 0;
    std::istringstream in(text);
    in >> width >> times >> height >> at >> x >> comma >> y;
    if (!in || times != 'x' || at != '@' || comma != ',') {
        return std::nullopt;
    }
    return CGRect(x, y, width, height);
}

std::string describeScenarioRect(const CGRect& rect) {
    std::ostringstream out;
    out << rect.width() << "x" << rect.height() << "@" << rect.minX() << "," << rect.minY();
    return out.str();
}

} // namespace scrivlet
