#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/URL.h"
#include "Platform/desktop/DrawnImage.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace scrivlet {

// The file manager's side of a Finder Sync extension: which folders the extension watches,
// the badges it registered, the badge it gave each file, and what the user has selected.
// The desktop owns one; the extension reaches it through `defaultController()`.
class SCRIVLET_PLATFORM_API FinderSyncController {
public:
    static FinderSyncController& defaultController();

    void setDirectoryURLs(std::vector<URL> urls) { directoryURLs_ = std::move(urls); }
    const std::vector<URL>& directoryURLs() const { return directoryURLs_; }

    struct BadgeImage {
        std::string identifier;
        std::string label;
        DrawnImage image;
    };
    // A later registration of the same identifier replaces the earlier one in place.
    void setBadgeImage(DrawnImage image, std::string label, std::string identifier);
    // Registrations in the order they were made.
    const std::vector<BadgeImage>& badgeImages() const { return badgeImages_; }
    const BadgeImage* badgeImage(const std::string& identifier) const;

    // Gives the file at `url` the badge `identifier`; the empty identifier removes its badge.
    void setBadgeIdentifier(const std::string& identifier, const URL& url);
    // The file's badge, "" for none.
    std::string badgeIdentifier(const URL& url) const;
    // Every call of setBadgeIdentifier, in order, and how many there were.
    struct BadgeSet {
        URL url;
        std::string identifier;
    };
    const std::vector<BadgeSet>& badgeSets() const { return badgeSets_; }
    // Hears every badge set as it happens (the file manager redraws the file).
    void setBadgeObserver(std::function<void(const BadgeSet&)> observer) {
        badgeObserver_ = std::move(observer);
    }
    // Whether badge sets are kept (badgeIdentifier, badgeSets) besides reaching the observer.
    // A file manager that keeps its own emblems turns this off, so a process that shows files
    // for weeks does not keep every answer it ever gave.
    void setKeepsBadges(bool keeps) { keepsBadges_ = keeps; }

    // The items selected in the file manager's frontmost window, in its order; nothing when
    // it has no answer.
    std::optional<std::vector<URL>> selectedItemURLs() const;
    // Where the selection comes from: the desktop's file manager.
    void setSelectionSource(std::function<std::optional<std::vector<URL>>()> source) {
        selectionSource_ = std::move(source);
    }

private:
    std::vector<URL> directoryURLs_;
    std::vector<BadgeImage> badgeImages_;
    std::map<std::string, std::string> badges_; // by the URL's text
    std::vector<BadgeSet> badgeSets_;
    std::function<void(const BadgeSet&)> badgeObserver_;
    bool keepsBadges_ = true;
    std::function<std::optional<std::vector<URL>>()> selectionSource_;
};

} // namespace scrivlet
