#pragma once

#include "Platform/base/Export.h"

#include <algorithm>
#include <cmath>

namespace scrivlet {

// Core Graphics style geometry: doubles, origin at the bottom left of the primary screen
// unless a caller says otherwise.
struct SCRIVLET_PLATFORM_API CGPoint {
    double x = 0;
    double y = 0;
    friend bool operator==(const CGPoint&, const CGPoint&) = default;
};

struct SCRIVLET_PLATFORM_API CGSize {
    double width = 0;
    double height = 0;
    friend bool operator==(const CGSize&, const CGSize&) = default;
};

struct SCRIVLET_PLATFORM_API CGRect {
    CGPoint origin;
    CGSize size;

    constexpr CGRect() = default;
    constexpr CGRect(double x, double y, double width, double height)
        : origin{x, y}, size{width, height} {}

    double minX() const { return origin.x; }
    double minY() const { return origin.y; }
    double maxX() const { return origin.x + size.width; }
    double maxY() const { return origin.y + size.height; }
    double midX() const { return origin.x + size.width / 2; }
    double midY() const { return origin.y + size.height / 2; }
    double width() const { return size.width; }
    double height() const { return size.height; }

    bool isEmpty() const { return !(size.width > 0) || !(size.height > 0); }
    bool isFinite() const {
        return std::isfinite(origin.x) && std::isfinite(origin.y) && std::isfinite(size.width) &&
               std::isfinite(size.height);
    }

    // Area shared with `other`; 0 when they do not overlap.
    double intersectionArea(const CGRect& other) const {
        const double w = std::min(maxX(), other.maxX()) - std::max(minX(), other.minX());
        const double h = std::min(maxY(), other.maxY()) - std::max(minY(), other.minY());
        return (w > 0 && h > 0) ? w * h : 0;
    }
    bool intersects(const CGRect& other) const { return intersectionArea(other) > 0; }
    bool contains(const CGRect& inner) const {
        return inner.minX() >= minX() && inner.maxX() <= maxX() && inner.minY() >= minY() &&
               inner.maxY() <= maxY();
    }

    friend bool operator==(const CGRect&, const CGRect&) = default;
};

} // namespace scrivlet
