#include "Scrivcore/PanelPlacer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace scrivlet {

namespace PanelPlacer {
namespace {

// isFinite() checks origin and size; an origin near the limits can still overflow an edge.
bool hasFiniteEdges(const CGRect& rect) {
    return rect.isFinite() && std::isfinite(rect.maxX()) && std::isfinite(rect.maxY());
}

double centreDistanceSquared(const CGRect& a, const CGRect& b) {
    const double dx = a.midX() - b.midX();
    const double dy = a.midY() - b.midY();
    return dx * dx + dy * dy;
}

std::optional<std::size_t> largestOverlap(const CGRect& window,
                                          const std::vector<ScreenFrames>& screens) {
    std::optional<std::size_t> best;
    double bestArea = 0;
    for (std::size_t i = 0; i < screens.size(); ++i) {
        const double area = window.intersectionArea(screens[i].frame);
        if (area > bestArea) { // strict, so the earlier screen keeps a tie
            bestArea = area;
            best = i;
        }
    }
    return best;
}

std::size_t nearestCentre(const CGRect& window, const std::vector<ScreenFrames>& screens) {
    std::size_t best = 0;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < screens.size(); ++i) {
        const double distance = centreDistanceSquared(window, screens[i].frame);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

// Start along one axis for a span of `length` kept within [low, high], where high was computed
// as low plus a size no smaller than `length`. high - length can round so that the far edge lands
// an ulp past `high`, so step back until it is inside; `low` is the fallback because rounding is
// monotonic, so low + length can never pass the sum `high` came from.
double slideInside(double start, double length, double low, double high) {
    start = std::max(low, std::min(start, high - length));
    for (int step = 0; step < 4 && start > low && start + length > high; ++step)
        start = std::nextafter(start, low);
    return start + length > high ? low : start;
}

bool fitsBetween(double start, double length, double low, double high) {
    return start >= low && start + length <= high;
}

CGSize panelSizeWithin(const CGRect& visible) {
    return {std::min(panelSize.width, visible.width()),
            std::min(panelSize.height, visible.height())};
}

CGRect fullscreenAuxiliary(const CGRect& visible, CGSize size) {
    const double x =
        slideInside(visible.maxX() - gap - size.width, size.width, visible.minX(), visible.maxX());
    const double y = slideInside(visible.maxY() - gap - size.height, size.height, visible.minY(),
                                 visible.maxY());
    return {x, y, size.width, size.height};
}

// Horizontal start for flip and hide, or nothing when neither side of the window fits.
std::optional<double> besideWindow(const CGRect& finder, const CGRect& visible, double width) {
    const double right = finder.maxX() + gap;
    if (fitsBetween(right, width, visible.minX(), visible.maxX()))
        return right;
    const double left = finder.minX() - gap - width;
    if (fitsBetween(left, width, visible.minX(), visible.maxX()))
        return left;
    return std::nullopt;
}

// Neither side fits: take the side with more room (the right on a tie, as it is preferred)
// and slide the panel inside, over the window.
double roomierSide(const CGRect& finder, const CGRect& visible, double width) {
    const double rightRoom = visible.maxX() - (finder.maxX() + gap);
    const double leftRoom = (finder.minX() - gap) - visible.minX();
    const double start = leftRoom > rightRoom ? finder.minX() - gap - width : finder.maxX() + gap;
    return slideInside(start, width, visible.minX(), visible.maxX());
}

std::optional<double> horizontalStart(const CGRect& finder, const CGRect& visible, double width,
                                      PanelPlacementMode mode) {
    switch (mode) {
    case PanelPlacementMode::flip:
        if (const auto beside = besideWindow(finder, visible, width))
            return beside;
        return roomierSide(finder, visible, width);
    case PanelPlacementMode::clamp:
        return slideInside(finder.maxX() + gap, width, visible.minX(), visible.maxX());
    case PanelPlacementMode::hide:
        return besideWindow(finder, visible, width);
    }
    return std::nullopt; // an out-of-range mode shows nothing rather than guessing
}

} // namespace

std::size_t bestScreenIndex(const CGRect& finderFrame, const std::vector<ScreenFrames>& screens) {
    if (finderFrame.isFinite()) {
        if (const auto overlapping = largestOverlap(finderFrame, screens))
            return *overlapping;
    }
    return nearestCentre(finderFrame, screens);
}

PanelPlacement compute(const CGRect& finderFrame, const CGRect& /*screenFrame*/,
                       const CGRect& visibleFrame, bool isFullscreen, PanelPlacementMode mode) {
    if (!hasFiniteEdges(visibleFrame) || visibleFrame.isEmpty() || !hasFiniteEdges(finderFrame))
        return {};
    const CGSize size = panelSizeWithin(visibleFrame);
    if (isFullscreen)
        return {fullscreenAuxiliary(visibleFrame, size)};

    const auto x = horizontalStart(finderFrame, visibleFrame, size.width, mode);
    if (!x)
        return {};
    const double y = slideInside(finderFrame.maxY() - size.height, size.height, visibleFrame.minY(),
                                 visibleFrame.maxY());
    return {CGRect{*x, y, size.width, size.height}};
}

} // namespace PanelPlacer

} // namespace scrivlet
