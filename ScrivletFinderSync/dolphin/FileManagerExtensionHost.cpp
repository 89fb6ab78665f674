#include "ScrivletFinderSync/dolphin/FileManagerExtensionHost.h"

#include "Platform/Services.h"
#include "Platform/backends/filemanager/FileManagerDesktop.h"
#include "Platform/backends/qt/QtRunLoopBackend.h"
#include "Platform/base/Log.h"
#include "Platform/base/RunLoop.h"
#include "Platform/base/URL.h"
#include "Platform/desktop/FinderSyncController.h"
#include "Platform/system/Bundle.h"
#include "Platform/system/LaunchServices.h"
#include "Platform/system/UserDirectories.h"
#include "Scrivcore/AnnotationStore.h"
#include "ScrivletFinderSync/FinderSyncExtension.h"
#include "ScrivletFinderSync/dolphin/BadgeRasterizer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

std::weak_ptr<FileManagerExtensionHost>& currentHost() {
    static std::weak_ptr<FileManagerExtensionHost> host;
    return host;
}

std::optional<fs::path> absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return std::nullopt;
    }
    return fs::path(value);
}

// This library lives in <app bundle>/Contents/Frameworks; the app beside it is started with a
// command URL when no app runs and none is registered for the scheme.
std::optional<fs::path> enclosingApp() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<const void*>(&currentHost), &info) == 0 ||
        info.dli_fname == nullptr) {
        return std::nullopt;
    }
    const fs::path app =
        fs::path(info.dli_fname).parent_path().parent_path() / "MacOS" / "Scrivlet";
    std::error_code error;
    return fs::is_regular_file(app, error) ? std::optional(app) : std::nullopt;
}

bool openThroughLaunchServices(const URL& url, const std::optional<fs::path>& app) {
    LaunchServices::OpenOptions options;
    options.fallbackApplication = app;
    return !LaunchServices::openURLs({url}, options);
}

} // namespace

std::shared_ptr<FileManagerExtensionHost> FileManagerExtensionHost::acquire(int emblemPixels) {
    if (auto host = currentHost().lock()) {
        return host;
    }
    std::shared_ptr<FileManagerExtensionHost> host(new FileManagerExtensionHost(emblemPixels));
    currentHost() = host;
    return host;
}

FileManagerExtensionHost::FileManagerExtensionHost(int emblemPixels) {
    traceFile_ = absoluteVariable(traceVariable);
    start(emblemPixels);
}

FileManagerExtensionHost::~FileManagerExtensionHost() {
    // The extension leaves the run loop before the loop goes with the services.
    extension_.reset();
    services_.reset();
}

void FileManagerExtensionHost::start(int emblemPixels) {
    auto backend = makeQtRunLoopBackend([this] { return pump(); });
    backend_ = backend.get();
    auto runLoop = std::make_unique<RunLoop>(std::move(backend));
    const auto app = enclosingApp();
    auto desktop = std::make_unique<FileManagerDesktop>(
        BadgeRasterizer::drawableSymbols(),
        [app](const URL& url) { return openThroughLaunchServices(url, app); });
    desktop_ = desktop.get();
    const fs::path bundle = app ? app->parent_path().parent_path().parent_path() / "Contents" /
                                      "PlugIns" / "ScrivletFinderSync.appex"
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
    drawEmblems(emblemPixels);
    // Qt's first look hands it the loop's descriptors (the badge notice).
    backend_->wake();
}

bool FileManagerExtensionHost::storeExists() {
    std::error_code error;
    return fs::exists(AnnotationStore::defaultPath(), error);
}

void FileManagerExtensionHost::startExtension() {
    extension_ = FinderSyncExtension::make();
    if (extension_->store) {
        // Emblems are asked on the file manager's main thread: a lookup that meets a lock the
        // app holds answers "no badge" at once rather than freezing the window; the next redraw
        // or change signal asks again.
        extension_->store->setBusyTimeout(std::chrono::milliseconds(0));
    }
}

bool FileManagerExtensionHost::startAgainIfTheStoreAppeared() {
    if (extension_->store || storeExisted_ || !storeExists()) {
        return false;
    }
    storeExisted_ = true;
    // The old extension goes first: its notice observer leaves the loop with it.
    extension_.reset();
    startExtension();
    return true;
}

int FileManagerExtensionHost::emblemPixels(double devicePixelRatio) {
    const double ratio =
        std::isfinite(devicePixelRatio) ? std::clamp(devicePixelRatio, 1.0, 8.0) : 1.0;
    return static_cast<int>(std::ceil(largestEmblemPoints * ratio));
}

std::optional<double> FileManagerExtensionHost::pump() {
    // Qt calls back from its own loop, so only while the services exist.
    if (!services_) {
        return std::nullopt;
    }
    // The system starts an extension again when it is needed; the file manager's process
    // lives long. An extension that started before the app ever made the store (the file
    // manager restarted right after installing) starts again once a change shows that the
    // store exists, and takes the paths that change announced. A store that was there but
    // could not be opened stays unopened, as the extension's rule says.
    try {
        if (startAgainIfTheStoreAppeared()) {
            extension_->refreshPendingBadges();
        }
    } catch (...) {
        NSLog("Scrivlet FinderSync: The extension could not start again");
    }
    services_->runLoop().runUntilIdle();
    return services_->runLoop().secondsUntilNextTimer();
}

fs::path FileManagerExtensionHost::emblemFolder() {
    const fs::path cache =
        absoluteVariable("XDG_CACHE_HOME").value_or(UserDirectories::home() / ".cache");
    return cache / "com.scrivlet.Scrivlet" / "badges";
}

void FileManagerExtensionHost::drawEmblems(int emblemPixels) {
    const fs::path folder = emblemFolder();
    if (const std::error_code error = UserDirectories::ensureDirectory(folder)) {
        NSLog("Scrivlet FinderSync: No folder for badge images: %@", {error.message()});
        return;
    }
    for (const auto& badge : desktop_->finderSyncController().badgeImages()) {
        // Named after what is drawn: a file drawn once is used by every later file manager
        // process, and a changed drawing never meets an image cached under the old name.
        const fs::path file =
            folder / (badge.identifier + "-" + BadgeRasterizer::drawingFingerprint(badge.image) +
                      "-" + std::to_string(emblemPixels) + ".png");
        std::error_code error;
        if (!fs::exists(file, error)) {
            error = BadgeRasterizer::writePNG(badge.image, emblemPixels, file);
        }
        if (error) {
            NSLog("Scrivlet FinderSync: Cannot draw the badge %@: %@",
                  {badge.identifier, error.message()});
            continue;
        }
        emblemFiles_[badge.identifier] = file.string();
    }
}

std::optional<std::string>
FileManagerExtensionHost::emblemFile(const std::string& identifier) const {
    const auto found = emblemFiles_.find(identifier);
    return found == emblemFiles_.end() ? std::nullopt : std::optional(found->second);
}

std::vector<std::string> FileManagerExtensionHost::overlaysOf(const std::string& identifier) const {
    if (auto file = emblemFile(identifier)) {
        return {std::move(*file)};
    }
    return {};
}

std::vector<std::string> FileManagerExtensionHost::overlaysFor(const std::string& path) {
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
    return overlaysOf(identifier);
}

void FileManagerExtensionHost::badgeSet(const std::string& path, const std::string& identifier) {
    if (answer_ != nullptr) {
        *answer_ = identifier;
        return;
    }
    // A refresh: the app changed the file's record.
    if (path.empty()) {
        return;
    }
    if (traceFile_) {
        trace({"changed", identifier.empty() ? "none" : identifier, path});
    }
    const std::vector<std::string> overlays = overlaysOf(identifier);
    // An observer may remove itself (or another) while it is told.
    const auto observers = observers_;
    for (const auto& [id, observer] : observers) {
        if (!observers_.contains(id)) {
            continue;
        }
        // This runs inside the run loop, which ends the process on an escaping exception:
        // a change the file manager could not take is dropped instead.
        try {
            observer(path, overlays);
        } catch (...) {
            NSLog("Scrivlet FinderSync: A badge change could not be shown");
        }
    }
}

int FileManagerExtensionHost::addOverlaysObserver(OverlaysObserver observer) {
    const int id = nextObserver_++;
    observers_.emplace(id, std::move(observer));
    return id;
}

void FileManagerExtensionHost::removeOverlaysObserver(int identifier) {
    observers_.erase(identifier);
}

namespace {

std::vector<URL> fileURLs(const std::vector<std::string>& paths) {
    std::vector<URL> urls;
    urls.reserve(paths.size());
    for (const std::string& path : paths) {
        urls.push_back(URL::fileURL(path));
    }
    return urls;
}

} // namespace

std::vector<FileManagerExtensionHost::MenuEntry>
FileManagerExtensionHost::menuFor(const std::vector<std::string>& paths) {
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

void FileManagerExtensionHost::perform(const MenuEntry& entry,
                                       const std::vector<std::string>& paths) {
    if (traceFile_) {
        trace({"chose", entry.title, paths.empty() ? std::string() : paths.front()});
    }
    // The command acts on the items it was offered for, which are the file manager's selection.
    desktop_->setSelectedItems(fileURLs(paths));
    if (extension_->respondsToSelector(entry.action)) {
        extension_->performSelector(entry.action, nullptr);
    }
    // What the command posted to the loop runs once Qt looks again.
    backend_->wake();
}

void FileManagerExtensionHost::trace(const std::vector<std::string>& fields) {
    if (!traceFile_) {
        return;
    }
    std::string line;
    for (const std::string& field : fields) {
        line += (line.empty() ? "" : "\t") + field;
    }
    std::ofstream(*traceFile_, std::ios::app) << line << '\n';
}

} // namespace scrivlet
