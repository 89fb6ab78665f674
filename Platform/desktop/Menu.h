#pragma once

#include "Platform/base/Export.h"
#include "Platform/desktop/Responder.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace scrivlet {

// Modifier keys of a key equivalent.
enum ModifierFlags : unsigned {
    modifierNone = 0,
    modifierShift = 1u << 17,
    modifierControl = 1u << 18,
    modifierOption = 1u << 19,
    modifierCommand = 1u << 20,
};

class SCRIVLET_PLATFORM_API MenuItem {
public:
    // An item with a title, an optional action and a key equivalent ("" for none). The key
    // equivalent uses the Command modifier unless told otherwise.
    MenuItem(std::string title, std::optional<Selector> action, std::string keyEquivalent);
    static std::shared_ptr<MenuItem> separatorItem();

    const std::string& title() const { return title_; }
    const std::optional<Selector>& action() const { return action_; }
    const std::string& keyEquivalent() const { return keyEquivalent_; }
    unsigned keyEquivalentModifierMask() const { return modifierMask_; }
    void setKeyEquivalentModifierMask(unsigned mask) { modifierMask_ = mask; }
    bool isSeparatorItem() const { return isSeparator_; }

    // An explicit target; without one the action goes up the responder chain.
    void setTarget(std::weak_ptr<Responder> target) { target_ = std::move(target); }
    std::shared_ptr<Responder> target() const { return target_.lock(); }

private:
    std::string title_;
    std::optional<Selector> action_;
    std::string keyEquivalent_;
    unsigned modifierMask_ = modifierCommand;
    bool isSeparator_ = false;
    std::weak_ptr<Responder> target_;
};

// A menu with automatic enabling: an item is enabled when its action has a responder.
class SCRIVLET_PLATFORM_API Menu {
public:
    Menu() = default;
    explicit Menu(std::string title) : title_(std::move(title)) {}
    const std::string& title() const { return title_; }

    void addItem(std::shared_ptr<MenuItem> item) { items_.push_back(std::move(item)); }
    const std::vector<std::shared_ptr<MenuItem>>& items() const { return items_; }

    // The object that would perform the item's action: its target, else the first responder
    // of the chain (which ends at the application) that handles the action.
    Responder* responderFor(const MenuItem& item) const;
    bool isEnabled(const MenuItem& item) const;
    // Performs the item's action when it is enabled; answers whether it ran.
    bool performActionForItem(const MenuItem& item);
    // The enabled item whose key equivalent matches, as a key press while the menu is open.
    std::shared_ptr<MenuItem> itemForKeyEquivalent(const std::string& key,
                                                   unsigned modifiers) const;

private:
    std::string title_;
    std::vector<std::shared_ptr<MenuItem>> items_;
};

} // namespace scrivlet
