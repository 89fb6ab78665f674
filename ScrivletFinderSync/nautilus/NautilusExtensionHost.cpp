#include "ScrivletFinderSync/nautilus/NautilusExtensionHost.h"

#include "Platform/Services.h"
#include "Platform/backends/glib/GLibRunLoopDriver.h"
#include "Platform/base/Log.h"
#include "Platform/base/RunLoop.h"
#include "Platform/desktop/SessionFileManager.h"
#include "Platform/system/AtomicFile.h"
#include "Platform/system/LaunchServices.h"
#include "ScrivletFinderSync/nautilus/EmblemSVG.h"

namespace scrivlet {

namespace {

std::weak_ptr<NautilusExtensionHost>& currentHost() {
    static std::weak_ptr<NautilusExtensionHost> host;
    return host;
}

} // namespace

std::shared_ptr<NautilusExtensionHost> NautilusExtensionHost::acquire() {
    if (auto host = currentHost().lock()) {
        return host;
    }
    std::shared_ptr<NautilusExtensionHost> host(new NautilusExtensionHost());
    currentHost() = host;
    return host;
}

NautilusExtensionHost::NautilusExtensionHost() {
    // The module sits in the file manager's extension folder, outside the app bundle; the
    // platform library it links lives in the bundle's Frameworks folder.
    extension_ = std::make_unique<InProcessExtension>(
        makeRealRunLoopBackend(), EmblemSVG::drawableSymbols(),
        reinterpret_cast<const void*>(&LaunchServices::openURLs),
        [this](const std::string& path, const std::string& identifier) {
            badgeChanged(path, identifier);
        });
    // What an earlier file manager process told is stale: nothing is selected yet.
    tellSelection({});
    // GLib drives the loop from here on: the badge notice is heard on the file manager's loop.
    driver_ = std::make_unique<GLibRunLoopDriver>(extension_->services().runLoop());
}

NautilusExtensionHost::~NautilusExtensionHost() {
    // The extension leaves the run loop before GLib lets go of it and the loop goes.
    extension_->endExtension();
    driver_.reset();
    extension_.reset();
}

void NautilusExtensionHost::startAgainIfTheStoreAppeared() {
    // The old extension announced the paths of the change that made the store as unbadged, so
    // the file manager asks for them again after a start. Never while the extension is telling
    // of changes: it would go from under itself.
    if (announcing_ || !extension_->startAgainIfTheStoreAppeared()) {
        return;
    }
    // GLib learns of the new extension's notice on the loop's next turn.
    driver_->turnSoon();
}

std::optional<std::string> NautilusExtensionHost::emblemFor(const std::string& path) {
    startAgainIfTheStoreAppeared();
    const std::string identifier = extension_->badgeIdentifierFor(path);
    if (identifier.empty()) {
        return std::nullopt;
    }
    return EmblemSVG::emblemName(identifier);
}

void NautilusExtensionHost::badgeChanged(const std::string& path, const std::string& identifier) {
    if (!changeObserver_) {
        return;
    }
    extension_->traceBadge("changed", identifier, path);
    announcing_ = true;
    // This runs inside the run loop, which ends the process on an escaping exception: a change
    // the file manager could not take is dropped instead.
    try {
        changeObserver_(path);
    } catch (...) {
        NSLog("Scrivlet FinderSync: A badge change could not be shown");
    }
    announcing_ = false;
}

std::vector<NautilusExtensionHost::MenuEntry>
NautilusExtensionHost::menuFor(const std::vector<std::string>& paths) {
    startAgainIfTheStoreAppeared();
    return extension_->menuFor(paths);
}

void NautilusExtensionHost::perform(const MenuEntry& entry, const std::vector<std::string>& paths) {
    extension_->perform(entry, paths);
    // What the command posted to the loop runs once GLib looks again.
    driver_->turnSoon();
}

void NautilusExtensionHost::tellSelection(const std::vector<std::string>& paths) {
    // A path with a line break cannot be told in a one-line file: no selection rather than a
    // wrong one.
    std::string selected;
    if (paths.size() == 1 && paths.front().find('\n') == std::string::npos) {
        selected = paths.front();
    }
    const std::filesystem::path file = extensionSelectionFile();
    if (const auto failed = replaceFileAtomically(file, selected + "\n", 0600)) {
        NSLog("Scrivlet FinderSync: Cannot tell the selection: %@", {failed->code.message()});
        return;
    }
}

} // namespace scrivlet
