#include "Platform/simulated/Desktop.h"

#include <algorithm>

Desktop::Desktop() {
    const CGRect frame(0, 0, 1440, 900);
    screens_.push_back({frame, CGRect(0, 0, 1440, 900 - menuBarHeight)});
}

void Desktop::setScreens(std::vector<Screen> screens) {
    screens_ = std::move(screens);
    mainScreenIndex_ = 0;
}

std::optional<Screen> Desktop::mainScreen() const {
    if (screens_.empty()) {
        return std::nullopt;
    }
    return screens_[std::min(mainScreenIndex_, screens_.size() - 1)];
}

void Desktop::addRunningApplication(RunningApplicationInfo application) {
    removeRunningApplication(application.processIdentifier);
    running_.push_back(std::move(application));
}

void Desktop::removeRunningApplication(pid_t processIdentifier) {
    std::erase_if(running_, [&](const RunningApplicationInfo& application) {
        return application.processIdentifier == processIdentifier;
    });
}
