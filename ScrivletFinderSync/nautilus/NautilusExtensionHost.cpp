#include "ScrivletFinderSync/nautilus/NautilusExtensionHost.h"

#include "Platform/Services.h"
#include "Platform/backends/filemanager/FileManagerDesktop.h"
#include "Platform/backends/glib/GLibRunLoopDriver.h"
#include "Platform/base/Log.h"
#include "Platform/base/RunLoop.h"
#include "Platform/base/URL.h"
#include "Platform/desktop/FinderSyncController.h"
#include "Platform/desktop/SessionFileManager.h"
#include "Platform/system/AtomicFile.h"
#include "Platform/system/Bundle.h"
#include "Platform/system/LaunchServices.h"
#include "Scrivcore/AnnotationStore.h"
#include "ScrivletFinderSync/FinderSyncExtension.h"
#include "ScrivletFinderSync/nautilus/EmblemSVG.h"

#include <chrono>
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

std::weak_ptr<NautilusExtensionHost>& currentHost() {
    static std::weak_ptr<NautilusExtensionHost> host;
    return host;
}

// The module sits in the file manager's extension folder, outside the app bundle; the
// platform library it links lives in <app bundle>/Contents/Frameworks, and the app beside it
// is started with a command URL when no app runs and none is registered for the scheme.
std::optional<fs::path> enclosingApp() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<const void*>(&LaunchServices::openURLs), &info) == 0 ||
        info.dli_fname == nullptr) {
        return std::nullopt;
    }
    std::error_code error;
    const fs::path library = fs::canonical(info.dli_fname, error);
    if (error) {
        return std::nullopt;
    }
    const fs::path app = library.parent_path().parent_path() / "MacOS" / "Scrivlet";
    return fs::is_regular_file(app, error) ? std::optional(app) : std::nullopt;
}

bool openThroughLaunchServices(const URL& url, const std::optional<fs::path>& app) {
    LaunchServices::OpenOptions options;
    options.fallbackApplication = app;
    return !LaunchServices::openURLs({url}, options);
}

std::vector<URL> fileURLs(const std::vector<std::string>& paths) {
    std::vector<URL> urls;
    urls.reserve(paths.size());
    for (const std::string& path : paths) {
        urls.push_back(URL::fileURL(path));
    }
    return urls;
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
    if (const char* trace = std::getenv(traceVariable); trace != nullptr && trace[0] == '/') {
        traceFile_ = fs::path(trace);
    }
    auto runLoop = std::make_unique<RunLoop>(makeRealRunLoopBackend());
    const auto app = enclosingApp();
    auto desktop =
        std::make_unique<FileManagerDesktop>(EmblemSVG::drawableSymbols(), [app](const URL& url) {
            return openThroughLaunchServices(url, app);
        });
    desktop_ = desktop.get();
    const fs::path bundle =
        app ? app->parent_path().parent_path() / "PlugIns" / "ScrivletFinderSync.appex"
            : fs::path();
    services_ = std::make_unique<Services>(
        std::move(runLoop), std::move(desktop),
        std::make_unique<Bundle>("com.scrivlet.Scrivlet.FinderSync", bundle, "ScrivletFinderSync",
                                 std::vector<std::string>{}));
    desktop_->finderSyncController().setBadgeObserver(
        [this](const FinderSyncController::BadgeSet& set) {
            const auto path = set.url.fileSystemPath();
            badgeSet(path ? path->string() : std::string(), set.identifier);
        });
    storeExisted_ = storeExists();
    startExtension();
    // What an earlier file manager process told is stale: nothing is selected yet.
    tellSelection({});
    // GLib drives the loop from here on: the badge notice is heard on the file manager's loop.
    driver_ = std::make_unique<GLibRunLoopDriver>(services_->runLoop());
}

NautilusExtensionHost::~NautilusExtensionHost() {
    // The extension leaves the run loop before GLib lets go of it and the loop goes.
    extension_.reset();
    driver_.reset();
    services_.reset();
}

bool NautilusExtensionHost::storeExists() {
    std::error_code error;
    return fs::exists(AnnotationStore::defaultPath(), error);
}

void NautilusExtensionHost::startExtension() {
    extension_ = FinderSyncExtension::make();
    if (extension_->store) {
        // Emblems and menus are asked on the file manager's main thread, menus on every change
        // of selection: a lookup that meets a lock the app holds answers "no badge" at once
        // rather than freezing the window; the change signal that follows the app's save asks
        // again.
        extension_->store->setBusyTimeout(std::chrono::milliseconds(0));
    }
}

void NautilusExtensionHost::startAgainIfTheStoreAppeared() {
    // The file manager's process lives long: an extension that started before the app ever
    // made the store starts again once the store exists. The old one announced the paths of
    // the change that made it as unbadged, so the file manager asks for them again here. A
    // store that was there but could not be opened stays unopened, as the extension's rule
    // says. Never while the extension is telling of changes: it would go from under itself.
    if (announcing_ || extension_->store || storeExisted_ || !storeExists()) {
        return;
    }
    storeExisted_ = true;
    // The old extension goes first: its notice observer leaves the loop with it.
    extension_.reset();
    startExtension();
    // GLib learns of the new extension's notice on the loop's next turn.
    driver_->turnSoon();
}

std::optional<std::string> NautilusExtensionHost::emblemFor(const std::string& path) {
    startAgainIfTheStoreAppeared();
    std::optional<std::string> answer;
    answer_ = &answer;
    try {
        extension_->requestBadgeIdentifierForURL(URL::fileURL(path));
    } catch (...) {
        answer.reset(); // no badge rather than an error inside the file manager
    }
    answer_ = nullptr;
    const std::string identifier = answer.value_or("");
    if (traceFile_) {
        trace({"overlays", identifier.empty() ? "none" : identifier, path});
    }
    if (identifier.empty()) {
        return std::nullopt;
    }
    return EmblemSVG::emblemName(identifier);
}

void NautilusExtensionHost::badgeSet(const std::string& path, const std::string& identifier) {
    if (answer_ != nullptr) {
        *answer_ = identifier;
        return;
    }
    // A refresh: the app changed the file's record.
    if (path.empty() || !changeObserver_) {
        return;
    }
    if (traceFile_) {
        trace({"changed", identifier.empty() ? "none" : identifier, path});
    }
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
    desktop_->setSelectedItems(fileURLs(paths));
    std::vector<MenuEntry> entries;
    const std::shared_ptr<Menu> menu =
        extension_->menuForMenuKind(FinderSyncMenuKind::contextualMenuForItems);
    for (const auto& item : menu->items()) {
        entries.push_back({item->title(), item->action().value_or(Selector())});
    }
    if (traceFile_) {
        std::vector<std::string> fields{"menu", std::to_string(paths.size())};
        for (const MenuEntry& entry : entries) {
            fields.push_back(entry.title);
        }
        trace(fields);
    }
    return entries;
}

void NautilusExtensionHost::perform(const MenuEntry& entry, const std::vector<std::string>& paths) {
    if (traceFile_) {
        trace({"chose", entry.title, paths.empty() ? std::string() : paths.front()});
    }
    // The command acts on the items it was offered for, which are the file manager's selection.
    desktop_->setSelectedItems(fileURLs(paths));
    if (extension_->respondsToSelector(entry.action)) {
        extension_->performSelector(entry.action, nullptr);
    }
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
    const fs::path file = extensionSelectionFile();
    if (const auto failed = replaceFileAtomically(file, selected + "\n", 0600)) {
        NSLog("Scrivlet FinderSync: Cannot tell the selection: %@", {failed->code.message()});
        return;
    }
}

void NautilusExtensionHost::trace(const std::vector<std::string>& fields) {
    std::string line;
    for (const std::string& field : fields) {
        line += (line.empty() ? "" : "\t") + field;
    }
    std::ofstream(*traceFile_, std::ios::app) << line << '\n';
}

} // namespace scrivlet
