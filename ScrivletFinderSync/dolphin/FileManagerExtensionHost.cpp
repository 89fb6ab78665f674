#include "ScrivletFinderSync/dolphin/FileManagerExtensionHost.h"

#include "Platform/Services.h"
#include "Platform/backends/filemanager/FileManagerDesktop.h"
#include "Platform/backends/qt/QtRunLoopBackend.h"
#include "Platform/base/Log.h"
#include "Platform/base/RunLoop.h"
#include "Platform/desktop/FinderSyncController.h"
#include "Platform/system/UserDirectories.h"
#include "ScrivletFinderSync/FinderSyncExtension.h"
#include "ScrivletFinderSync/dolphin/BadgeRasterizer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

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
    auto backend = makeQtRunLoopBackend([this] { return pump(); });
    backend_ = backend.get();
    // This library lives in the app bundle's Frameworks folder.
    extension_ = std::make_unique<InProcessExtension>(
        std::move(backend), BadgeRasterizer::drawableSymbols(),
        reinterpret_cast<const void*>(&currentHost),
        [this](const std::string& path, const std::string& identifier) {
            badgeChanged(path, identifier);
        });
    drawEmblems(emblemPixels);
    // Qt's first look hands it the loop's descriptors (the badge notice).
    backend_->wake();
}

FileManagerExtensionHost::~FileManagerExtensionHost() {
    // Gone before it is destroyed: Qt may still look at the loop while it goes.
    extension_.reset();
}

int FileManagerExtensionHost::emblemPixels(double devicePixelRatio) {
    const double ratio =
        std::isfinite(devicePixelRatio) ? std::clamp(devicePixelRatio, 1.0, 8.0) : 1.0;
    return static_cast<int>(std::ceil(largestEmblemPoints * ratio));
}

std::optional<double> FileManagerExtensionHost::pump() {
    // Qt calls back from its own loop, so only while the extension's services exist.
    if (!extension_) {
        return std::nullopt;
    }
    // An extension that started before the app ever made the store (the file manager
    // restarted right after installing) starts again once a change shows that the store
    // exists, and takes the paths that change announced.
    try {
        if (extension_->startAgainIfTheStoreAppeared()) {
            extension_->extension().refreshPendingBadges();
        }
    } catch (...) {
        NSLog("Scrivlet FinderSync: The extension could not start again");
    }
    RunLoop& loop = extension_->services().runLoop();
    loop.runUntilIdle();
    return loop.secondsUntilNextTimer();
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
    for (const auto& badge : extension_->desktop().finderSyncController().badgeImages()) {
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
    return overlaysOf(extension_->badgeIdentifierFor(path));
}

void FileManagerExtensionHost::badgeChanged(const std::string& path,
                                            const std::string& identifier) {
    extension_->traceBadge("changed", identifier, path);
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

std::vector<FileManagerExtensionHost::MenuEntry>
FileManagerExtensionHost::menuFor(const std::vector<std::string>& paths) {
    return extension_->menuFor(paths);
}

void FileManagerExtensionHost::perform(const MenuEntry& entry,
                                       const std::vector<std::string>& paths) {
    extension_->perform(entry, paths);
    // What the command posted to the loop runs once Qt looks again.
    backend_->wake();
}

void FileManagerExtensionHost::trace(const std::vector<std::string>& fields) {
    extension_->trace(fields);
}

} // namespace scrivlet
