#include "Platform/desktop/AnimationContext.h"

#include "Platform/base/RunLoop.h"
#include "Platform/desktop/Panel.h"

#include <algorithm>
#include <utility>

namespace scrivlet {

namespace {

AnimationContext* describing = nullptr;

} // namespace

AnimationContext* AnimationContext::currentContext() {
    return describing;
}

void AnimationContext::runAnimationGroup(const std::function<void(AnimationContext&)>& changes,
                                         std::function<void()> completionHandler) {
    AnimationContext group;
    AnimationContext* outer = std::exchange(describing, &group);
    changes(group);
    describing = outer;
    group.start(std::move(completionHandler));
}

void AnimationContext::addAlphaAnimation(std::shared_ptr<Panel> panel, double target) {
    const double from = panel->alphaValue();
    const std::uint64_t generation = panel->beginAlphaAnimation();
    animations_.push_back({std::move(panel), from, target, generation});
}

void AnimationContext::start(std::function<void()> completionHandler) {
    RunLoop& loop = RunLoop::main();
    const double startTime = loop.monotonicNow();
    const double duration = std::max(duration_, 0.0);
    auto animations = std::make_shared<std::vector<AlphaAnimation>>(std::move(animations_));
    auto completion = std::make_shared<std::function<void()>>(std::move(completionHandler));
    auto timer = std::make_shared<RunLoop::TimerID>(Scheduler::invalidTimer);

    // Each frame moves every animation that is still the latest on its panel.
    auto step = [&loop, startTime, duration, animations, completion, timer] {
        const double elapsed = loop.monotonicNow() - startTime;
        const double progress = duration <= 0 ? 1.0 : std::min(1.0, elapsed / duration);
        for (const AlphaAnimation& animation : *animations) {
            if (animation.panel->alphaAnimationGeneration() == animation.generation) {
                animation.panel->setAlphaValue(animation.from +
                                               (animation.to - animation.from) * progress);
            }
        }
        if (progress < 1.0) {
            return;
        }
        loop.invalidateTimer(*timer);
        animations->clear();
        if (*completion) {
            // The handler runs after the frame, as its own piece of main-thread work.
            loop.async(std::move(*completion));
        }
    };
    if (duration <= 0) {
        step();
        return;
    }
    *timer = loop.addTimer(1.0 / framesPerSecond, true, step);
}

} // namespace scrivlet
