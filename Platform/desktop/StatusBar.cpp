#include "Platform/desktop/StatusBar.h"

#include "Platform/desktop/DesktopBackend.h"

namespace scrivlet {

StatusBar& StatusBar::system() {
    return DesktopBackend::current().statusBar();
}

std::shared_ptr<StatusItem> StatusBar::statusItem(double length) {
    auto item = std::make_shared<StatusItem>(length);
    items_.push_back(item);
    return item;
}

std::vector<std::shared_ptr<StatusItem>> StatusBar::items() const {
    std::vector<std::shared_ptr<StatusItem>> live;
    std::erase_if(items_, [](const auto& item) { return item.expired(); });
    for (const auto& item : items_) {
        live.push_back(item.lock());
    }
    return live;
}

} // namespace scrivlet
