#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/Geometry.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace scrivlet {

// A colour of the system palette, known by its name ("systemBlueColor").
class SCRIVLET_PLATFORM_API Color {
public:
    static Color systemBlueColor() { return Color("systemBlueColor"); }
    static Color systemOrangeColor() { return Color("systemOrangeColor"); }

    const std::string& name() const { return name_; }
    // Makes this the fill colour of the current drawing context.
    void setFill() const;

    friend bool operator==(const Color&, const Color&) = default;

private:
    explicit Color(std::string name) : name_(std::move(name)) {}
    std::string name_;
};

// One step of a drawing, as the context recorded it.
struct SCRIVLET_PLATFORM_API DrawingOperation {
    enum class Kind { setFillColor, fillOval, fillRect, drawSymbol };
    Kind kind = Kind::fillRect;
    CGRect rect;             // fillOval, fillRect, drawSymbol
    std::string colorName;   // setFillColor
    std::string symbolName;  // drawSymbol
    std::string description; // drawSymbol: the symbol's accessibility description
    friend bool operator==(const DrawingOperation&, const DrawingOperation&) = default;
};

// Where drawing goes while an image's handler runs. This desktop keeps what is drawn as a
// list of operations instead of pixels, so whoever shows the image (or a test) reads it.
class SCRIVLET_PLATFORM_API GraphicsContext {
public:
    // The context being drawn into, or null outside a drawing handler.
    static GraphicsContext* current();

    // Makes `context` current for its lifetime and restores the previous one after.
    class SCRIVLET_PLATFORM_API Scope {
    public:
        explicit Scope(GraphicsContext& context);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        GraphicsContext* previous_;
    };

    void record(DrawingOperation operation) { operations_.push_back(std::move(operation)); }
    const std::vector<DrawingOperation>& operations() const { return operations_; }
    const std::optional<std::string>& fillColor() const { return fillColor_; }
    void setFillColor(std::string name) { fillColor_ = std::move(name); }

private:
    std::vector<DrawingOperation> operations_;
    std::optional<std::string> fillColor_;
};

// A shape to fill with the current fill colour.
class SCRIVLET_PLATFORM_API BezierPath {
public:
    static BezierPath bezierPathWithOvalInRect(const CGRect& rect) { return {true, rect}; }
    static BezierPath bezierPathWithRect(const CGRect& rect) { return {false, rect}; }
    void fill() const;

private:
    BezierPath(bool oval, const CGRect& rect) : oval_(oval), rect_(rect) {}
    bool oval_;
    CGRect rect_;
};

// `rect` shrunk by dx on the left and right and by dy at the top and bottom.
inline CGRect CGRectInset(const CGRect& rect, double dx, double dy) {
    return {rect.minX() + dx, rect.minY() + dy, rect.width() - 2 * dx, rect.height() - 2 * dy};
}

} // namespace scrivlet
