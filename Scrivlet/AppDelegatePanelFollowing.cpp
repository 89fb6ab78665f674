// Keeping the panel beside Finder's window while it moves, resizes or the screens change.
#include "Scrivcore/PanelViewModel.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/PanelController.h"
#include "Scrivlet/SelectionTracker.h"

#include <cmath>

namespace scrivlet {

namespace {

bool standsStill(const CGRect& now, const CGRect& before) {
    return std::abs(now.minX() - before.minX()) < AppDelegate::dragStillThreshold &&
           std::abs(now.minY() - before.minY()) < AppDelegate::dragStillThreshold &&
           std::abs(now.width() - before.width()) < AppDelegate::dragStillThreshold &&
           std::abs(now.height() - before.height()) < AppDelegate::dragStillThreshold;
}

} // namespace

bool AppDelegate::repositionPanel() {
    if (!viewModel->isVisible() || !finderIsActive || userDismissed) {
        return false;
    }
    const auto finder = focusedFinderFrame();
    if (!finder) {
        panelController->hide();
        return false;
    }
    panelController->show(finder->frame, finder->isFullscreen);
    return true;
}

void AppDelegate::startDragPolling() {
    dragStillTicks = 0;
    if (dragPollTimer) {
        return;
    }
    const auto info = focusedFinderFrame();
    dragIsFullscreen = info && info->isFullscreen;
    dragWindowID = selectionTracker->matchingWindowID(info ? info->frame.width() : 0,
                                                      info ? info->frame.height() : 0);
    dragLastFrame.reset();
    if (dragWindowID) {
        dragLastFrame = selectionTracker->windowListFrame(*dragWindowID);
    }
    if (!dragLastFrame && info) {
        dragLastFrame = info->frame;
    }
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    dragPollTimer = RunLoop::main().addTimer(
        dragPollInterval, true,
        [weak] {
            if (auto self = weak.lock()) {
                self->pollDrag();
            }
        },
        RunLoopMode::commonModes);
}

void AppDelegate::endDragPoll() {
    if (dragPollTimer) {
        RunLoop::main().invalidateTimer(*dragPollTimer);
    }
    dragPollTimer.reset();
    dragLastFrame.reset();
    dragWindowID.reset();
    dragStillTicks = 0;
}

void AppDelegate::pollDrag() {
    RunLoop::main().assertOwnerThread("AppDelegate::pollDrag");
    if (!viewModel->isVisible() || !finderIsActive || userDismissed || dragIsFullscreen) {
        endDragPoll();
        return;
    }
    const std::optional<CGRect> frame =
        dragWindowID ? selectionTracker->windowListFrame(*dragWindowID) : std::nullopt;
    if (!frame) {
        endDragPoll();
        repositionPanel();
        return;
    }
    if (dragLastFrame && standsStill(*frame, *dragLastFrame)) {
        if (++dragStillTicks >= dragStillTicksToEnd) {
            endDragPoll();
        }
        return;
    }
    dragStillTicks = 0;
    dragLastFrame = frame;
    panelController->show(*frame, false);
}

void AppDelegate::screensChanged(const Notification& /*notification*/) {
    RunLoop::main().assertOwnerThread("AppDelegate::screensChanged:");
    if (!viewModel->isVisible() || userDismissed) {
        return;
    }
    if (const auto finder = focusedFinderFrame()) {
        panelController->show(finder->frame, finder->isFullscreen);
    }
}

} // namespace scrivlet
