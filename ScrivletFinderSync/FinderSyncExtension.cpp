#include "ScrivletFinderSync/FinderSyncExtension.h"

#include "Platform/base/Log.h"
#include "Platform/desktop/FinderSyncController.h"
#include "Platform/system/DarwinNotifyObservation.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeRefreshNotifier.h"

namespace scrivlet {

std::shared_ptr<FinderSyncExtension> FinderSyncExtension::make() {
    std::shared_ptr<FinderSyncExtension> extension(new FinderSyncExtension());
    extension->init();
    return extension;
}

FinderSyncExtension::~FinderSyncExtension() = default;

void FinderSyncExtension::init() {
    store = nullptr;
    FinderSyncController::defaultController().setDirectoryURLs({URL::fileURL("/")});
    registerBadgeImages();
    openStore();
    observeBadgeRefresh();
    NSLog("Scrivlet FinderSync: initialized");
}

void FinderSyncExtension::openStore() {
    const std::string path = AnnotationStore::defaultPath();
    try {
        store = std::make_shared<AnnotationStore>(path, AnnotationStore::Access::readOnly);
        NSLog("Scrivlet FinderSync: DB opened at %@", {path});
    } catch (const std::exception& error) {
        store = nullptr;
        NSLog("Scrivlet FinderSync: Failed to open DB: %@", {error.what()});
    }
}

void FinderSyncExtension::observeBadgeRefresh() {
    // The observer is the extension; once it is gone the callback has nobody to refresh.
    std::weak_ptr<FinderSyncExtension> observer = weak_from_this();
    std::error_code error;
    badgeRefreshObservation_ = DarwinNotifyObservation::add(
        BadgeRefreshNotifier::darwinName,
        [observer] {
            if (auto extension = observer.lock()) {
                extension->refreshPendingBadges();
            }
        },
        error);
    if (!badgeRefreshObservation_) {
        NSLog("Scrivlet FinderSync: Failed to observe badge changes: %@", {error.message()});
    }
}

} // namespace scrivlet
