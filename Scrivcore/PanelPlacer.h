#pragma once

#include "Platform/base/Geometry.h"
#include "Scrivcore/Export.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace scrivlet {

// Where the annotation panel goes when the Finder window leaves no room beside it.
// The cases are in the order the preference lists them.
enum class PanelPlacementMode {
    flip,  // right if it fits, else left if it fits, else the roomier side slid on screen
    clamp, // always to the right, slid back on screen when it would run off the edge
    hide,  // right if it fits, else left if it fits, else no panel: never covers the window
};

// No frame means the panel should not be shown at all.
struct SCRIVCORE_API PanelPlacement {
    std::optional<CGRect> frame;
};

// One display, as the window server reports it: the whole frame, and the part left over once
// the menu bar and the Dock are taken out.
struct SCRIVCORE_API ScreenFrames {
    CGRect frame;
    CGRect visibleFrame;
};

// Arithmetic only: the caller gathers the window and screen frames and moves the panel.
// All rectangles are global screen coordinates with the origin at the bottom left and y growing
// upwards, so "top" means maxY.
namespace PanelPlacer {

inline constexpr CGSize panelSize{300, 600}; // preferred size, shrunk on screens too small for it
inline constexpr double gap = 8;             // space between the Finder window and the panel

// The screen the panel belongs on: the one whose `frame` holds the largest area of the Finder
// window, the earlier screen winning ties. When no screen overlaps the window, or the window's
// frame is not finite, it is the screen whose frame centre is nearest the window's centre, again
// the earlier one on ties (with a non-finite window every distance is undefined and that is the
// first screen). Callers always pass at least one screen; an empty list returns 0 rather than
// failing. The result is always a valid index of a non-empty list.
SCRIVCORE_API std::size_t bestScreenIndex(const CGRect& finderFrame,
                                          const std::vector<ScreenFrames>& screens);

// The panel's frame beside `finderFrame` on the screen described by `screenFrame` and
// `visibleFrame` (normally the screen picked by bestScreenIndex).
//
// Size: panelSize, shrunk to the visible frame in whichever dimension it is smaller.
//
// Vertically, in every mode, the panel's top is level with the window's top, then slid up or
// down just enough to stay inside the visible frame.
//
// Horizontally the panel sits `gap` to the right of the window, or `gap` to its left, as `mode`
// decides (see PanelPlacementMode). A side "fits" when the panel placed there lies inside the
// visible frame. flip ends up covering part of the window only when neither side fits: it is the
// default, and a panel over the window is more use than no panel; users who never want the
// window covered choose hide.
//
// A full-screen window fills its screen, so there is no "beside" to be had. Rather than hiding
// the panel the user asked for, every mode then shows it as a full-screen auxiliary window at
// the right edge of the visible frame, `gap` in from the right and top edges, over the window.
// On a visible frame too small for that inset the panel is slid back inside it.
//
// No frame when the visible frame is empty or not finite, or the Finder frame is not finite (an
// edge that overflows counts as not finite). Any frame returned lies inside `visibleFrame`.
// Only the visible frame bounds the panel; `screenFrame` is taken so the call describes the screen
// the way ScreenFrames does, and is not used by the arithmetic today.
SCRIVCORE_API PanelPlacement compute(const CGRect& finderFrame, const CGRect& screenFrame,
                                     const CGRect& visibleFrame, bool isFullscreen,
                                     PanelPlacementMode mode);

} // namespace PanelPlacer

} // namespace scrivlet
