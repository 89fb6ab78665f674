#include "Platform/desktop/FinderSyncController.h"

#include "Platform/desktop/DesktopBackend.h"

#include <algorithm>

namespace scrivlet {

FinderSyncController& FinderSyncController::defaultController() {
    return DesktopBackend::current().finderSyncController();
}

void FinderSyncController::setBadgeImage(DrawnImage image, std::string label,
                                         std::string identifier) {
    auto existing =
        std::find_if(badgeImages_.begin(), badgeImages_.end(),
                     [&](const BadgeImage& badge) { return badge.identifier == identifier; });
    BadgeImage badge{std::move(identifier), std::move(label), std::move(image)};
    if (existing != badgeImages_.end()) {
        *existing = std::move(badge);
    } else {
        badgeImages_.push_back(std::move(badge));
    }
}

const FinderSyncController::BadgeImage*
FinderSyncController::badgeImage(const std::string& identifier) const {
    for (const BadgeImage& badge : badgeImages_) {
        if (badge.identifier == identifier) {
            return &badge;
        }
    }
    return nullptr;
}

void FinderSyncController::setBadgeIdentifier(const std::string& identifier, const URL& url) {
    if (!keepsBadges_) {
        if (badgeObserver_) {
            badgeObserver_({url, identifier});
        }
        return;
    }
    if (identifier.empty()) {
        badges_.erase(url.absoluteString());
    } else {
        badges_[url.absoluteString()] = identifier;
    }
    badgeSets_.push_back({url, identifier});
    if (badgeObserver_) {
        badgeObserver_(badgeSets_.back());
    }
}

std::string FinderSyncController::badgeIdentifier(const URL& url) const {
    const auto found = badges_.find(url.absoluteString());
    return found == badges_.end() ? std::string() : found->second;
}

std::optional<std::vector<URL>> FinderSyncController::selectedItemURLs() const {
    if (!selectionSource_) {
        return std::nullopt;
    }
    return selectionSource_();
}

} // namespace scrivlet
