#include "ScrivletFinderSync/filemanager/InProcessExtension.h"

#include "Platform/Services.h"
#include "Platform/backends/filemanager/FileManagerDesktop.h"
#include "Platform/base/RunLoop.h"
#include "Platform/base/URL.h"
#include "Platform/desktop/FinderSyncController.h"
#include "Platform/system/Bundle.h"
#include "Platform/system/LaunchServices.h"
#include "Scrivcore/AnnotationStore.h"
#include "ScrivletFinderSync/FinderSyncExtension.h"

#include <chrono>
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

// The library at `address` sits in <app bundle>/Contents/Frameworks, whatever folder the file
// manager loaded its plug-in from; the path the loader took may pass through links and "..".
std::optional<fs::path> enclosingApp(const void* address) {
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
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

bool storeExists() {
    std::error_code error;
    return fs::exists(AnnotationStore::defaultPath(), error);
}

} // namespace

InProcessExtension::InProcessExtension(std::unique_ptr<RunLoopBackend> backend,
                                       std::set<std::string> drawableSymbols,
                                       const void* frameworkAddress, ChangeHandler changed)
    : changed_(std::move(changed)) {
    if (const char* trace = std::getenv(traceVariable); trace != nullptr && trace[0] == '/') {
        traceFile_ = fs::path(trace);
    }
    auto runLoop = std::make_unique<RunLoop>(std::move(backend));
    const auto app = enclosingApp(frameworkAddress);
    auto desktop =
        std::make_unique<FileManagerDesktop>(std::move(drawableSymbols), [app](const URL& url) {
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
}

InProcessExtension::~InProcessExtension() {
    endExtension();
    services_.reset();
}

void InProcessExtension::endExtension() {
    extension_.reset();
}

void InProcessExtension::startExtension() {
    extension_ = FinderSyncExtension::make();
    if (extension_->store) {
        // Emblems and menus are asked on the file manager's main thread, some on every change
        // of selection: a lookup that meets a lock the app holds answers "no badge" at once
        // rather than freezing the window; the next redraw or change signal asks again.
        extension_->store->setBusyTimeout(std::chrono::milliseconds(0));
    }
}

bool InProcessExtension::startAgainIfTheStoreAppeared() {
    if (extension_->store || storeExisted_ || !storeExists()) {
        return false;
    }
    storeExisted_ = true;
    // The old extension goes first: its notice observer leaves the loop with it.
    extension_.reset();
    startExtension();
    return true;
}

std::string InProcessExtension::badgeIdentifierFor(const std::string& path) {
    std::optional<std::string> answer;
    answer_ = &answer;
    try {
        extension_->requestBadgeIdentifierForURL(URL::fileURL(path));
    } catch (...) {
        answer.reset(); // no badge rather than an error inside the file manager
    }
    answer_ = nullptr;
    std::string identifier = answer.value_or("");
    traceBadge("overlays", identifier, path);
    return identifier;
}

void InProcessExtension::badgeSet(const std::string& path, const std::string& identifier) {
    if (answer_ != nullptr) {
        *answer_ = identifier;
        return;
    }
    // A refresh: the app changed the file's record.
    if (!path.empty()) {
        changed_(path, identifier);
    }
}

std::vector<InProcessExtension::MenuEntry>
InProcessExtension::menuFor(const std::vector<std::string>& paths) {
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

void InProcessExtension::perform(const MenuEntry& entry, const std::vector<std::string>& paths) {
    trace({"chose", entry.title, paths.empty() ? std::string() : paths.front()});
    // The command acts on the items it was offered for, which are the file manager's selection.
    desktop_->setSelectedItems(fileURLs(paths));
    if (extension_->respondsToSelector(entry.action)) {
        extension_->performSelector(entry.action, nullptr);
    }
}

void InProcessExtension::trace(const std::vector<std::string>& fields) {
    if (!traceFile_) {
        return;
    }
    std::string line;
    for (const std::string& field : fields) {
        line += (line.empty() ? "" : "\t") + field;
    }
    std::ofstream(*traceFile_, std::ios::app) << line << '\n';
}

void InProcessExtension::traceBadge(const std::string& kind, const std::string& identifier,
                                    const std::string& path) {
    if (traceFile_) {
        trace({kind, identifier.empty() ? "none" : identifier, path});
    }
}

} // namespace scrivlet
