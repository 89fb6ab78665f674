#pragma once

#include "Platform/base/Export.h"
#include "Platform/desktop/Image.h"
#include "Platform/desktop/Menu.h"

#include <memory>
#include <optional>
#include <vector>

namespace scrivlet {

inline constexpr double variableStatusItemLength = -1;
inline constexpr double squareStatusItemLength = -2;

class SCRIVLET_PLATFORM_API StatusBarButton {
public:
    void setImage(std::optional<Image> image) { image_ = std::move(image); }
    const std::optional<Image>& image() const { return image_; }

private:
    std::optional<Image> image_;
};

// An icon in the menu bar. It stays there while someone holds it.
class SCRIVLET_PLATFORM_API StatusItem {
public:
    explicit StatusItem(double length) : length_(length) {}

    double length() const { return length_; }
    StatusBarButton* button() { return &button_; }
    const StatusBarButton* button() const { return &button_; }
    void setMenu(std::shared_ptr<Menu> menu) { menu_ = std::move(menu); }
    const std::shared_ptr<Menu>& menu() const { return menu_; }

private:
    double length_;
    StatusBarButton button_;
    std::shared_ptr<Menu> menu_;
};

class SCRIVLET_PLATFORM_API StatusBar {
public:
    // The menu bar of the current desktop.
    static StatusBar& system();

    std::shared_ptr<StatusItem> statusItem(double length);
    // The items still held by their owners, in creation order.
    std::vector<std::shared_ptr<StatusItem>> items() const;

private:
    mutable std::vector<std::weak_ptr<StatusItem>> items_;
};

} // namespace scrivlet
