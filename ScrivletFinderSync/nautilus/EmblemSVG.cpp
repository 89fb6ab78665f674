#include "ScrivletFinderSync/nautilus/EmblemSVG.h"

#include "ScrivletFinderSync/filemanager/BadgeDrawing.h"

#include <cstdio>
#include <functional>
#include <map>

namespace scrivlet::EmblemSVG {

namespace {

std::string paletteColor(const std::string& name) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06x",
                  static_cast<unsigned>(BadgeDrawing::paletteRGB(name)));
    return text;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// Symbols are drawn into a unit square (origin top left) in the label colour, which is how the
// system draws a symbol image that nobody tinted. The note's page is a frame: its inside is a
// hole (even-odd filling), through which the oval behind shows.
std::string noteText() {
    return R"(<path fill-rule="evenodd" d="M0.26 0.06H0.74A0.12 0.12 0 0 1 0.86 0.18V0.82)"
           R"(A0.12 0.12 0 0 1 0.74 0.94H0.26A0.12 0.12 0 0 1 0.14 0.82V0.18A0.12 0.12 0 0 1)"
           R"( 0.26 0.06ZM0.28 0.14H0.72A0.06 0.06 0 0 1 0.78 0.20V0.80A0.06 0.06 0 0 1 0.72)"
           R"( 0.86H0.28A0.06 0.06 0 0 1 0.22 0.80V0.20A0.06 0.06 0 0 1 0.28 0.14Z"/>)"
           R"(<rect x="0.32" y="0.28" width="0.36" height="0.07"/>)"
           R"(<rect x="0.32" y="0.44" width="0.36" height="0.07"/>)"
           R"(<rect x="0.32" y="0.60" width="0.36" height="0.07"/>)";
}

std::string flagFill() {
    return R"(<rect x="0.16" y="0.06" width="0.08" height="0.90"/>)"
           R"(<path d="M0.24 0.08H0.88L0.72 0.30L0.88 0.52H0.24Z"/>)";
}

const std::map<std::string, std::function<std::string()>>& symbolTable() {
    static const std::map<std::string, std::function<std::string()>> table{
        {"note.text", noteText},
        {"flag.fill", flagFill},
    };
    return table;
}

std::string operationElement(const DrawingOperation& operation, const DrawnImage& image,
                             const std::string& fill) {
    const CGRect box = BadgeDrawing::topDown(operation.rect, image);
    switch (operation.kind) {
    case DrawingOperation::Kind::setFillColor:
        return {};
    case DrawingOperation::Kind::fillOval:
        return "<ellipse fill=\"" + fill + "\" cx=\"" + number(box.midX()) + "\" cy=\"" +
               number(box.midY()) + "\" rx=\"" + number(box.width() / 2) + "\" ry=\"" +
               number(box.height() / 2) + "\"/>";
    case DrawingOperation::Kind::fillRect:
        return "<rect fill=\"" + fill + "\" x=\"" + number(box.minX()) + "\" y=\"" +
               number(box.minY()) + "\" width=\"" + number(box.width()) + "\" height=\"" +
               number(box.height()) + "\"/>";
    case DrawingOperation::Kind::drawSymbol: {
        const auto symbol = symbolTable().find(operation.symbolName);
        if (symbol == symbolTable().end()) {
            return {};
        }
        return "<g fill=\"#000000\" transform=\"translate(" + number(box.minX()) + " " +
               number(box.minY()) + ") scale(" + number(box.width()) + " " + number(box.height()) +
               ")\">" + symbol->second() + "</g>";
    }
    }
    return {};
}

} // namespace

std::set<std::string> drawableSymbols() {
    std::set<std::string> names;
    for (const auto& entry : symbolTable()) {
        names.insert(entry.first);
    }
    return names;
}

std::string document(const DrawnImage& image) {
    const std::string width = number(image.size().width);
    const std::string height = number(image.size().height);
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      width + "\" height=\"" + height + "\" viewBox=\"0 0 " + width + " " + height +
                      "\">";
    const DrawnImage::Drawing drawing = image.draw();
    if (drawing.succeeded) {
        std::string fill = "#000000";
        for (const DrawingOperation& operation : drawing.operations) {
            if (operation.kind == DrawingOperation::Kind::setFillColor) {
                fill = paletteColor(operation.colorName);
            }
            svg += operationElement(operation, image, fill);
        }
    }
    return svg + "</svg>\n";
}

std::string emblemName(const std::string& badgeIdentifier) {
    return "scrivlet-" + badgeIdentifier;
}

std::string iconName(const std::string& badgeIdentifier) {
    return "emblem-" + emblemName(badgeIdentifier);
}

} // namespace scrivlet::EmblemSVG
