#pragma once

#include "Platform/base/URL.h"
#include "Platform/desktop/FinderSync.h"
#include "Platform/desktop/Menu.h"

#include <memory>
#include <string>

namespace scrivlet {

class AnnotationStore;
class DarwinNotifyObservation;

// The extension's principal class: badges annotated files and offers the context-menu
// commands, which it sends to the app as URLs. It only ever reads the store.
class FinderSyncExtension final : public FinderSync,
                                  public std::enable_shared_from_this<FinderSyncExtension> {
public:
    // The object with its start-up run, as the file manager instantiates the principal class.
    static std::shared_ptr<FinderSyncExtension> make();
    ~FinderSyncExtension() override;
    FinderSyncExtension(const FinderSyncExtension&) = delete;
    FinderSyncExtension& operator=(const FinderSyncExtension&) = delete;

    // None until opened, and none for good when opening failed.
    std::shared_ptr<AnnotationStore> store;

    // Badges.
    void requestBadgeIdentifierForURL(const URL& url) override;
    std::string badgeIdentifier(const std::string& path);
    void refreshPendingBadges();

    // The context menu and its commands.
    std::shared_ptr<Menu> menuForMenuKind(FinderSyncMenuKind kind) override;
    void createAnnotation(const void* sender);
    void editAnnotation(const void* sender);
    void removeAnnotation(const void* sender);
    // Answers whether a command URL could be formed (and so was opened).
    bool openCommand(const std::string& action, const std::string& path);

    bool respondsToSelector(const Selector& selector) const override;
    void performSelector(const Selector& selector, const void* sender) override;

    static constexpr const char* annotatedIdentifier = "annotated";
    static constexpr const char* flaggedIdentifier = "flagged";
    static constexpr const char* menuTitle = "Scrivlet";
    static constexpr const char* annotateThisFileTitle = "Annotate This File\u2026";
    static constexpr const char* editAnnotationTitle = "Edit Annotation\u2026";
    static constexpr const char* removeAnnotationTitle = "Remove Annotation";
    static std::string annotateFilesTitle(std::size_t count);

private:
    FinderSyncExtension() = default;
    void init();
    void registerBadgeImages();
    void openStore();
    void observeBadgeRefresh();
    void sendFirstSelected(const std::string& action);
    std::shared_ptr<MenuItem> menuItem(const std::string& title, const Selector& action);

    std::unique_ptr<DarwinNotifyObservation> badgeRefreshObservation_;
};

} // namespace scrivlet
