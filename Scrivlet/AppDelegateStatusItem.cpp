// The menu-bar icon, its menu and the login item.
#include "Platform/base/Log.h"
#include "Platform/desktop/StatusBar.h"
#include "Platform/system/Bundle.h"
#include "Platform/system/LoginItemService.h"
#include "Scrivlet/AppDelegate.h"

namespace scrivlet {

void AppDelegate::setUpStatusItem() {
    statusItem = StatusBar::system().statusItem(squareStatusItemLength);
    if (StatusBarButton* button = statusItem->button()) {
        button->setImage(Image::systemSymbol("note.text", "Scrivlet"));
    }
    auto menu = std::make_shared<Menu>();
    menu->addItem(std::make_shared<MenuItem>("Preferences\u2026", std::nullopt, ""));
    menu->addItem(MenuItem::separatorItem());
    auto uninstall = std::make_shared<MenuItem>("Uninstall Scrivlet\u2026", "uninstallApp", "");
    uninstall->setTarget(weak_from_this());
    menu->addItem(uninstall);
    menu->addItem(MenuItem::separatorItem());
    menu->addItem(std::make_shared<MenuItem>("Quit Scrivlet", "terminate:", "q"));
    statusItem->setMenu(menu);
}

void AppDelegate::registerLoginItem() {
    const Bundle& bundle = Bundle::main();
    LoginItemService mainApp(bundle.bundleIdentifier(), bundle.executablePath(), "Scrivlet");
    if (auto error = mainApp.registerItem()) {
        NSLog("Scrivlet: Auto-start registration failed: %@", {error->localizedDescription});
    }
}

void AppDelegate::uninstallApp() {
    RunLoop::main().assertOwnerThread("AppDelegate::uninstallApp");
    runUninstall();
}

} // namespace scrivlet
