#pragma once

#include "Platform/desktop/FinderSync.h"
#include "Platform/desktop/Menu.h"

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace scrivlet {

// Finder's side of the Finder Sync extension: loads the plug-in from the app bundle,
// instantiates the principal class its info file names, and asks it what Finder asks when a
// folder is shown or a context menu opens. It runs on the process's platform services (the
// real run loop in its own process, or beside the app on a virtual clock).
class FinderSyncHost {
public:
    // <app bundle>/Contents/PlugIns/ScrivletFinderSync.appex
    static std::filesystem::path plugInPath(const std::filesystem::path& appBundle);

    // Null, with `error` saying why, when the plug-in cannot be loaded or instantiated.
    static std::unique_ptr<FinderSyncHost> load(const std::filesystem::path& appBundle,
                                                std::string& error);

    FinderSync& extension() { return *extension_; }

    // Asks the badge of every visible file of `folder` (names not starting with "."), in
    // name order, and answers each path with the badge it was given ("" for none).
    std::vector<std::pair<std::string, std::string>>
    showFolder(const std::filesystem::path& folder);

    // The context menu for the current selection, as the extension builds it.
    std::shared_ptr<Menu> contextMenu();
    // Shows the context menu and chooses the item titled `title`; false when the menu has no
    // such enabled item.
    bool chooseMenuItem(const std::string& title);

private:
    explicit FinderSyncHost(std::shared_ptr<FinderSync> extension)
        : extension_(std::move(extension)) {}
    std::shared_ptr<FinderSync> extension_;
};

} // namespace scrivlet
