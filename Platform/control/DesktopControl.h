#pragma once

#include "Platform/desktop/Alert.h"
#include "Platform/desktop/Screen.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace scrivlet {

class Menu;
class Services;
class SimulatedDesktop;
class SimulatedFinder;
class StatusItem;

// The control and observation side of the simulated desktop, for tests and scenarios: it
// acts as the user would (open the status menu, choose an item, press a key) and reads what
// is on screen. The app's entry point uses it too: on the simulated desktop, the control
// socket (DesktopControlServer) lets a terminal drive the app through it. It is in no shipped
// library; the app's logic (ScrivletApp), the extension and the platform floors never call it.
class DesktopControl {
public:
    DesktopControl(Services& services, SimulatedDesktop& desktop);

    SimulatedDesktop& desktop() { return desktop_; }

    void setScreens(std::vector<Screen> screens);

    // Finder: launch and quit it, open and arrange its windows, select items.
    SimulatedFinder& finder();
    // The user selects the one file at `path` in Finder's front window, as from the keyboard;
    // Finder starts and opens a window first when it has none. Like the other actions, these
    // two leave what they cause to the run loop (settle() delivers it), so a request served
    // from inside the loop never runs the loop again.
    void selectInFinder(const std::string& path);
    // The user picks `status` in the status picker of the app's panel; false when no panel
    // content shows or the picker has no such option.
    bool chooseStatusInPanel(const std::string& status);
    // The user's accessibility permission for the app, and how often it was asked for.
    void setAccessibilityTrusted(bool trusted);
    int accessibilityPromptCount() const;
    // Delivers what is pending on the run loop (notifications, queued blocks) without moving
    // the clock.
    void settle();

    std::vector<std::shared_ptr<StatusItem>> statusItems() const;

    struct MenuEntry {
        std::string title;
        bool isSeparator = false;
        bool isEnabled = false;
        std::string keyEquivalent;
        unsigned modifiers = 0;
    };
    // Opens the menu of the status item at `index` (a click on the icon); false when there
    // is no such item or it has no menu.
    bool openStatusMenu(std::size_t index = 0);
    void closeMenu();
    bool isMenuOpen() const;
    std::vector<MenuEntry> openMenuEntries() const;
    // Chooses the enabled item with this title in the open menu: the menu closes, then the
    // action is sent. False when the menu is closed or the item is missing or disabled.
    bool chooseMenuItem(const std::string& title);
    // A key press while the menu is open ("q" with modifierCommand for Command-Q).
    bool pressKey(const std::string& key, unsigned modifiers);

    // Alerts: the user will answer the next alert with the button of this title, after
    // `whileShown` ran (something that happens while the alert is up). An alert with no
    // answer scripted ends at once and counts as unanswered.
    void answerNextAlert(const std::string& buttonTitle, std::function<void()> whileShown = {});
    std::vector<AlertContents> shownAlerts() const;
    std::size_t unansweredAlertCount() const;

    // What the menu bar and the open menu look like, as transcript lines.
    std::vector<std::string> describeStatusBar() const;
    std::vector<std::string> describeOpenMenu() const;

private:
    Services& services_;
    SimulatedDesktop& desktop_;
};

std::string describeModifiers(unsigned modifiers);

} // namespace scrivlet
