#pragma once

#include "Platform/Screen.h"
#include "Platform/StatusBar.h"

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

struct RunningApplicationInfo {
    std::string bundleIdentifier;
    pid_t processIdentifier = 0;
    std::string localizedName;
    bool active = false;
    friend bool operator==(const RunningApplicationInfo&, const RunningApplicationInfo&) = default;
};

// The model of what the app sees of the desktop where Linux has no equivalent: screens, the
// menu bar, running applications and the menu being tracked. Production code reaches it
// through the platform classes (Screen, StatusBar, ...); tests and scenarios drive and read
// it through DesktopControl.
class Desktop {
public:
    // One 1440 x 900 screen with a 25-point menu bar.
    Desktop();

    std::vector<Screen> screens() const { return screens_; }
    void setScreens(std::vector<Screen> screens);
    std::optional<Screen> mainScreen() const;
    void setMainScreenIndex(std::size_t index) { mainScreenIndex_ = index; }

    StatusBar& statusBar() { return statusBar_; }

    void addRunningApplication(RunningApplicationInfo application);
    void removeRunningApplication(pid_t processIdentifier);
    const std::vector<RunningApplicationInfo>& runningApplications() const { return running_; }

    // The menu the user has open, if any.
    const std::shared_ptr<Menu>& trackedMenu() const { return trackedMenu_; }
    void setTrackedMenu(std::shared_ptr<Menu> menu) { trackedMenu_ = std::move(menu); }

    static constexpr double menuBarHeight = 25;

private:
    std::vector<Screen> screens_;
    std::size_t mainScreenIndex_ = 0;
    StatusBar statusBar_;
    std::vector<RunningApplicationInfo> running_;
    std::shared_ptr<Menu> trackedMenu_;
};
