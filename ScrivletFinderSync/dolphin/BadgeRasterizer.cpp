#include "ScrivletFinderSync/dolphin/BadgeRasterizer.h"

#include "ScrivletFinderSync/filemanager/BadgeDrawing.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>

namespace scrivlet::BadgeRasterizer {

namespace {

QColor paletteColor(const std::string& name) {
    return QColor::fromRgb(BadgeDrawing::paletteRGB(name));
}

// Symbols are drawn into a unit square (origin top left) in the label colour, which is how
// the system draws a symbol image that nobody tinted.
void drawNoteText(QPainter& painter) {
    QPainterPath page;
    page.addRoundedRect(QRectF(0.14, 0.06, 0.72, 0.88), 0.12, 0.12);
    QPainterPath inside;
    inside.addRoundedRect(QRectF(0.22, 0.14, 0.56, 0.72), 0.06, 0.06);
    painter.drawPath(page.subtracted(inside));
    for (const double y : {0.28, 0.44, 0.60}) {
        painter.drawRect(QRectF(0.32, y, 0.36, 0.07));
    }
}

void drawFlagFill(QPainter& painter) {
    painter.drawRect(QRectF(0.16, 0.06, 0.08, 0.90));
    QPainterPath flag;
    flag.moveTo(0.24, 0.08);
    flag.lineTo(0.88, 0.08);
    flag.lineTo(0.72, 0.30);
    flag.lineTo(0.88, 0.52);
    flag.lineTo(0.24, 0.52);
    flag.closeSubpath();
    painter.drawPath(flag);
}

const std::map<std::string, std::function<void(QPainter&)>>& symbolTable() {
    static const std::map<std::string, std::function<void(QPainter&)>> table{
        {"note.text", drawNoteText},
        {"flag.fill", drawFlagFill},
    };
    return table;
}

// The drawing's rectangle in image pixels, whose rows start at the top.
QRectF toPixels(const CGRect& rect, const DrawnImage& image, double scale) {
    const CGRect box = BadgeDrawing::topDown(rect, image);
    return {box.minX() * scale, box.minY() * scale, box.width() * scale, box.height() * scale};
}

} // namespace

std::set<std::string> drawableSymbols() {
    std::set<std::string> names;
    for (const auto& entry : symbolTable()) {
        names.insert(entry.first);
    }
    return names;
}

std::error_code writePNG(const DrawnImage& image, int pixels, const std::filesystem::path& file) {
    if (pixels <= 0 || !(image.size().width > 0) || !(image.size().height > 0)) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    const DrawnImage::Drawing drawing = image.draw();
    QImage raster(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    raster.fill(Qt::transparent);
    if (drawing.succeeded) {
        const double scale = pixels / std::max(image.size().width, image.size().height);
        QPainter painter(&raster);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        QColor fill = Qt::black;
        for (const DrawingOperation& operation : drawing.operations) {
            const QRectF rect = toPixels(operation.rect, image, scale);
            switch (operation.kind) {
            case DrawingOperation::Kind::setFillColor:
                fill = paletteColor(operation.colorName);
                break;
            case DrawingOperation::Kind::fillOval:
                painter.setBrush(fill);
                painter.drawEllipse(rect);
                break;
            case DrawingOperation::Kind::fillRect:
                painter.fillRect(rect, fill);
                break;
            case DrawingOperation::Kind::drawSymbol: {
                const auto symbol = symbolTable().find(operation.symbolName);
                if (symbol == symbolTable().end()) {
                    break;
                }
                painter.save();
                painter.translate(rect.topLeft());
                painter.scale(rect.width(), rect.height());
                painter.setBrush(Qt::black);
                symbol->second(painter);
                painter.restore();
                break;
            }
            }
        }
    }
    QSaveFile out(QString::fromStdString(file.string()));
    if (!out.open(QIODevice::WriteOnly) || !raster.save(&out, "PNG") || !out.commit()) {
        return std::make_error_code(std::errc::io_error);
    }
    return {};
}

std::string drawingFingerprint(const DrawnImage& image) {
    // FNV-1a over every recorded field: stable between runs and builds, unlike std::hash.
    std::uint64_t hash = 14695981039346656037ULL;
    const auto mix = [&hash](const std::string& text) {
        for (const char c : text) {
            hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
        }
        hash = (hash ^ 0xffU) * 1099511628211ULL;
    };
    const DrawnImage::Drawing drawing = image.draw();
    mix(std::to_string(image.size().width) + "x" + std::to_string(image.size().height) +
        (image.isFlipped() ? "f" : "") + (drawing.succeeded ? "" : "!"));
    for (const DrawingOperation& operation : drawing.operations) {
        mix(std::to_string(static_cast<int>(operation.kind)));
        for (const double value : {operation.rect.minX(), operation.rect.minY(),
                                   operation.rect.width(), operation.rect.height()}) {
            mix(std::to_string(value));
        }
        mix(operation.colorName);
        mix(operation.symbolName);
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

} // namespace scrivlet::BadgeRasterizer
