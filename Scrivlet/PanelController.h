#pragma once

#include "Platform/base/Geometry.h"
#include "Platform/desktop/Panel.h"
#include "Scrivcore/PanelPlacer.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace scrivlet {

class PanelViewModel;

// Owns the app's one floating window: a utility panel titled "Annotation" beside Finder's
// window, showing the selected file's annotation. It places the panel through PanelPlacer,
// fades it in and out, and tells its owner when the user closes it. It decides nothing about
// when the panel is wanted. Main thread only.
class PanelController final : public WindowDelegate,
                              public std::enable_shared_from_this<PanelController> {
public:
    explicit PanelController(std::shared_ptr<PanelViewModel> viewModel);

    std::shared_ptr<Panel> panel;
    const std::shared_ptr<PanelViewModel> viewModel;
    std::function<void()> onUserDismiss;

    // Places the panel beside the Finder window (frame in screen coordinates), creating it
    // on first use; moves a visible panel at once and fades a hidden one in.
    void show(const CGRect& finderFrame, bool isFullscreen);
    // Fades the panel out, then orders it out.
    void hide();

    void windowWillClose(Panel& window) override;

    void makePanel();
    PanelPlacementMode currentPlacementMode() const;

    static constexpr double fadeDuration = 0.15;

private:
    void fadeTo(double alpha, std::function<void()> completion = {});

    // A show that comes while the panel fades out takes the panel back: the fade-out's
    // completion then finds a newer generation and leaves the panel on screen.
    bool fadingOut_ = false;
    std::uint64_t fadeGeneration_ = 0;
};

} // namespace scrivlet
