#include "Platform/control/DesktopControl.h"

#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/base/RunLoop.h"
#include "Platform/control/ViewInspection.h"
#include "Platform/desktop/StatusBar.h"
#include "Platform/ui/HostingView.h"

namespace scrivlet {

DesktopControl::DesktopControl(Services& services, SimulatedDesktop& desktop)
    : services_(services), desktop_(desktop) {}

void DesktopControl::setScreens(std::vector<Screen> screens) {
    desktop_.setScreens(std::move(screens));
}

SimulatedFinder& DesktopControl::finder() {
    return desktop_.finder();
}

void DesktopControl::setAccessibilityTrusted(bool trusted) {
    desktop_.setAccessibilityTrusted(trusted);
}

int DesktopControl::accessibilityPromptCount() const {
    return desktop_.accessibilityPromptCount();
}

void DesktopControl::selectInFinder(const std::string& path) {
    SimulatedFinder& files = finder();
    if (!files.isRunning()) {
        files.launch();
    }
    if (files.windowNumbers().empty()) {
        files.focusWindow(files.openWindow(CGRect(100, 100, 800, 500)));
    }
    files.select({path});
}

bool DesktopControl::chooseStatusInPanel(const std::string& status) {
    for (const std::shared_ptr<Panel>& panel : desktop_.panels()) {
        const auto* host = dynamic_cast<const ui::HostingView*>(panel->contentView().get());
        if (host == nullptr) {
            continue;
        }
        ui::ViewInspector content(*host);
        const auto picker = content.find(ui::ViewKind::picker);
        if (picker && content.choose(*picker, status)) {
            return true;
        }
    }
    return false;
}

void DesktopControl::settle() {
    services_.runLoop().runUntilIdle();
}

void DesktopControl::answerNextAlert(const std::string& buttonTitle,
                                     std::function<void()> whileShown) {
    desktop_.scriptAlertAnswer(buttonTitle, std::move(whileShown));
}

std::vector<AlertContents> DesktopControl::shownAlerts() const {
    std::vector<AlertContents> alerts;
    for (const SimulatedDesktop::ShownAlert& shown : desktop_.shownAlerts()) {
        alerts.push_back(shown.contents);
    }
    return alerts;
}

std::size_t DesktopControl::unansweredAlertCount() const {
    return desktop_.unansweredAlertCount();
}

std::vector<std::shared_ptr<StatusItem>> DesktopControl::statusItems() const {
    return desktop_.statusBar().items();
}

bool DesktopControl::openStatusMenu(std::size_t index) {
    const auto items = statusItems();
    if (index >= items.size() || !items[index]->menu()) {
        return false;
    }
    desktop_.setTrackedMenu(items[index]->menu());
    // Menus track events in their own mode; default-mode timers wait meanwhile.
    services_.runLoop().setCurrentMode(RunLoopMode::eventTracking);
    return true;
}

void DesktopControl::closeMenu() {
    desktop_.setTrackedMenu(nullptr);
    services_.runLoop().setCurrentMode(RunLoopMode::defaultMode);
}

bool DesktopControl::isMenuOpen() const {
    return desktop_.trackedMenu() != nullptr;
}

std::vector<DesktopControl::MenuEntry> DesktopControl::openMenuEntries() const {
    std::vector<MenuEntry> entries;
    const std::shared_ptr<Menu> menu = desktop_.trackedMenu();
    if (!menu) {
        return entries;
    }
    for (const auto& item : menu->items()) {
        entries.push_back({item->title(), item->isSeparatorItem(), menu->isEnabled(*item),
                           item->keyEquivalent(), item->keyEquivalentModifierMask()});
    }
    return entries;
}

bool DesktopControl::chooseMenuItem(const std::string& title) {
    const std::shared_ptr<Menu> menu = desktop_.trackedMenu();
    if (!menu) {
        return false;
    }
    for (const auto& item : menu->items()) {
        if (!item->isSeparatorItem() && item->title() == title && menu->isEnabled(*item)) {
            closeMenu();
            return menu->performActionForItem(*item);
        }
    }
    return false;
}

bool DesktopControl::pressKey(const std::string& key, unsigned modifiers) {
    const std::shared_ptr<Menu> menu = desktop_.trackedMenu();
    if (!menu) {
        return false;
    }
    const std::shared_ptr<MenuItem> item = menu->itemForKeyEquivalent(key, modifiers);
    if (!item) {
        return false;
    }
    closeMenu();
    return menu->performActionForItem(*item);
}

std::string describeModifiers(unsigned modifiers) {
    std::string text;
    if (modifiers & modifierControl) {
        text += "Control-";
    }
    if (modifiers & modifierOption) {
        text += "Option-";
    }
    if (modifiers & modifierShift) {
        text += "Shift-";
    }
    if (modifiers & modifierCommand) {
        text += "Command-";
    }
    return text;
}

std::vector<std::string> DesktopControl::describeStatusBar() const {
    std::vector<std::string> lines;
    for (const auto& item : statusItems()) {
        std::string line = "status item";
        if (item->length() == squareStatusItemLength) {
            line += " (square)";
        }
        if (const auto& image = item->button()->image()) {
            line += " symbol \"" + image->systemSymbolName + "\" labelled \"" +
                    image->accessibilityDescription + "\"";
        }
        line += item->menu() ? ", with a menu" : ", without a menu";
        lines.push_back(line);
    }
    if (lines.empty()) {
        lines.push_back("no status item");
    }
    return lines;
}

std::vector<std::string> DesktopControl::describeOpenMenu() const {
    std::vector<std::string> lines;
    for (const MenuEntry& entry : openMenuEntries()) {
        if (entry.isSeparator) {
            lines.push_back("  ----");
            continue;
        }
        std::string line = "  " + entry.title;
        if (!entry.keyEquivalent.empty()) {
            line += "  [" + describeModifiers(entry.modifiers) + entry.keyEquivalent + "]";
        }
        if (!entry.isEnabled) {
            line += "  (disabled)";
        }
        lines.push_back(line);
    }
    return lines;
}

} // namespace scrivlet
