#include "Platform/desktop/Menu.h"

#include "Platform/desktop/Application.h"

namespace scrivlet {

MenuItem::MenuItem(std::string title, std::optional<Selector> action, std::string keyEquivalent)
    : title_(std::move(title)), action_(std::move(action)),
      keyEquivalent_(std::move(keyEquivalent)) {}

std::shared_ptr<MenuItem> MenuItem::separatorItem() {
    auto item = std::make_shared<MenuItem>("", std::nullopt, "");
    item->isSeparator_ = true;
    return item;
}

Responder* Menu::responderFor(const MenuItem& item) const {
    if (!item.action()) {
        return nullptr;
    }
    if (std::shared_ptr<Responder> target = item.target()) {
        return target->respondsToSelector(*item.action()) ? target.get() : nullptr;
    }
    for (Responder* responder : Application::shared().responderChain()) {
        if (responder->respondsToSelector(*item.action())) {
            return responder;
        }
    }
    return nullptr;
}

bool Menu::isEnabled(const MenuItem& item) const {
    return !item.isSeparatorItem() && responderFor(item) != nullptr;
}

bool Menu::performActionForItem(const MenuItem& item) {
    // Keep an explicit target alive for the duration of its action.
    std::shared_ptr<Responder> keepAlive = item.target();
    Responder* responder = responderFor(item);
    if (responder == nullptr) {
        return false;
    }
    responder->performSelector(*item.action(), &item);
    return true;
}

std::shared_ptr<MenuItem> Menu::itemForKeyEquivalent(const std::string& key,
                                                     unsigned modifiers) const {
    for (const auto& item : items_) {
        if (!item->keyEquivalent().empty() && item->keyEquivalent() == key &&
            item->keyEquivalentModifierMask() == modifiers && isEnabled(*item)) {
            return item;
        }
    }
    return nullptr;
}

} // namespace scrivlet
