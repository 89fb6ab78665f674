#include "Platform/base/URLBuilder.h"
#include "Platform/desktop/FinderSyncController.h"
#include "Platform/desktop/NotificationCenter.h"
#include "Scrivcore/AnnotationStore.h"
#include "ScrivletFinderSync/FinderSyncExtension.h"

namespace scrivlet {

namespace {

constexpr const char* createSelector = "createAnnotation:";
constexpr const char* editSelector = "editAnnotation:";
constexpr const char* removeSelector = "removeAnnotation:";

std::vector<URL> selectedItems() {
    return FinderSyncController::defaultController().selectedItemURLs().value_or(
        std::vector<URL>{});
}

} // namespace

std::string FinderSyncExtension::annotateFilesTitle(std::size_t count) {
    return "Annotate " + std::to_string(count) + " Files\u2026";
}

std::shared_ptr<MenuItem> FinderSyncExtension::menuItem(const std::string& title,
                                                        const Selector& action) {
    auto item = std::make_shared<MenuItem>(title, action, "");
    item->setTarget(weak_from_this());
    return item;
}

std::shared_ptr<Menu> FinderSyncExtension::menuForMenuKind(FinderSyncMenuKind /*kind*/) {
    auto menu = std::make_shared<Menu>(menuTitle);
    const std::vector<URL> selected = selectedItems();
    if (selected.empty()) {
        return menu;
    }
    if (selected.size() > 1) {
        menu->addItem(menuItem(annotateFilesTitle(selected.size()), createSelector));
        return menu;
    }
    bool annotated = false;
    if (store) {
        try {
            const auto path = selected.front().fileSystemPath();
            annotated = path && store->hasAnnotation(path->string());
        } catch (const std::exception&) {
            annotated = false;
        }
    }
    if (annotated) {
        menu->addItem(menuItem(editAnnotationTitle, editSelector));
        menu->addItem(menuItem(removeAnnotationTitle, removeSelector));
    } else {
        menu->addItem(menuItem(annotateThisFileTitle, createSelector));
    }
    return menu;
}

void FinderSyncExtension::createAnnotation(const void* /*sender*/) {
    for (const URL& url : selectedItems()) {
        // A file whose path cannot be read, or put into a URL, is skipped.
        if (const auto path = url.fileSystemPath()) {
            openCommand("annotate", path->string());
        }
    }
}

void FinderSyncExtension::editAnnotation(const void* /*sender*/) {
    sendFirstSelected("annotate");
}

void FinderSyncExtension::removeAnnotation(const void* /*sender*/) {
    sendFirstSelected("remove");
}

void FinderSyncExtension::sendFirstSelected(const std::string& action) {
    const std::vector<URL> selected = selectedItems();
    if (selected.empty()) {
        return;
    }
    if (const auto path = selected.front().fileSystemPath()) {
        openCommand(action, path->string());
    }
}

bool FinderSyncExtension::openCommand(const std::string& action, const std::string& path) {
    const std::optional<URL> url = URLBuilder{"scrivlet", action, {{"path", path}}}.url();
    if (!url) {
        return false;
    }
    Workspace::shared().openURL(*url);
    return true;
}

bool FinderSyncExtension::respondsToSelector(const Selector& selector) const {
    return selector == createSelector || selector == editSelector || selector == removeSelector;
}

void FinderSyncExtension::performSelector(const Selector& selector, const void* sender) {
    if (selector == createSelector) {
        createAnnotation(sender);
    } else if (selector == editSelector) {
        editAnnotation(sender);
    } else if (selector == removeSelector) {
        removeAnnotation(sender);
    }
}

} // namespace scrivlet
