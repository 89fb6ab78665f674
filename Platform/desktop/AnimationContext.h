#pragma once

#include "Platform/base/Export.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace scrivlet {

class Panel;

// Groups property changes made through animators into one animation with a duration, on
// the main run loop's clock; the completion handler runs on the main thread once every
// animation of the group has ended.
class SCRIVLET_PLATFORM_API AnimationContext {
public:
    static void runAnimationGroup(const std::function<void(AnimationContext&)>& changes,
                                  std::function<void()> completionHandler = {});
    // The group being described, inside `changes`; null outside.
    static AnimationContext* currentContext();

    void setDuration(double seconds) { duration_ = seconds; }
    double duration() const { return duration_; }

    // Called by animators: animate the panel's alpha to `target` within this group.
    void addAlphaAnimation(std::shared_ptr<Panel> panel, double target);

    // Frame rate of the simulated animations.
    static constexpr double framesPerSecond = 60;

private:
    struct AlphaAnimation {
        std::shared_ptr<Panel> panel; // an animation keeps its panel alive until it ends
        double from = 0;
        double to = 0;
        std::uint64_t generation = 0;
    };
    void start(std::function<void()> completionHandler);

    double duration_ = 0.25;
    std::vector<AlphaAnimation> animations_;
};

} // namespace scrivlet
