#pragma once

#include "ScrivletFinderSync/filemanager/InProcessExtension.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace scrivlet {

class RunLoopBackend;

// The extension's host inside the file manager's process: the one FinderSyncExtension of the
// process, on a platform whose run loop Qt's event loop drives and whose Finder Sync controller
// turns badges into emblem images and menus into the file manager's actions. The file
// manager's plug-ins (emblems, context menu) share it: the first one to start starts it, and it
// ends when the last one lets go. Everything runs on the file manager's main thread.
class FileManagerExtensionHost {
public:
    // Emblems are drawn for the largest emblem the file manager shows (64 pixels) times the
    // screen's pixel ratio; it scales them down for smaller icons.
    static constexpr int largestEmblemPoints = 64;
    static int emblemPixels(double devicePixelRatio);

    // The host of this process, started when none runs. `emblemPixels` is used only then.
    static std::shared_ptr<FileManagerExtensionHost> acquire(int emblemPixels);
    ~FileManagerExtensionHost();
    FileManagerExtensionHost(const FileManagerExtensionHost&) = delete;
    FileManagerExtensionHost& operator=(const FileManagerExtensionHost&) = delete;

    // The emblem image files of the file at `path` (absolute): one for a badged file, none
    // for others. One store lookup; never blocks on the app.
    std::vector<std::string> overlaysFor(const std::string& path);

    // Hears each file whose badge the extension set after the app announced a change, with its
    // new emblems. Answers an identifier for removeOverlaysObserver.
    using OverlaysObserver =
        std::function<void(const std::string& path, const std::vector<std::string>& overlays)>;
    int addOverlaysObserver(OverlaysObserver observer);
    void removeOverlaysObserver(int identifier);

    // The context menu the extension builds for `paths` (selected, in the file manager's
    // order): each item's title and the command it sends.
    using MenuEntry = InProcessExtension::MenuEntry;
    std::vector<MenuEntry> menuFor(const std::vector<std::string>& paths);
    // Runs the command of a menu entry for `paths`; the URLs it opens travel to the app on a
    // worker thread.
    void perform(const MenuEntry& entry, const std::vector<std::string>& paths);

    // The image file of a badge identifier; nothing for none or when it could not be drawn.
    std::optional<std::string> emblemFile(const std::string& identifier) const;
    // <cache home>/com.scrivlet.Scrivlet/badges
    static std::filesystem::path emblemFolder();

    // When SCRIVLET_FILE_MANAGER_TRACE names a file, one line per answer and event is appended
    // to it, tab-separated: what the file manager was told, for a person or a test to read.
    static constexpr const char* traceVariable = InProcessExtension::traceVariable;
    void trace(const std::vector<std::string>& fields);

private:
    explicit FileManagerExtensionHost(int emblemPixels);
    void drawEmblems(int emblemPixels);
    void badgeChanged(const std::string& path, const std::string& identifier);
    std::optional<double> pump();
    std::vector<std::string> overlaysOf(const std::string& identifier) const;

    RunLoopBackend* backend_ = nullptr; // the run loop's, which Qt drives
    std::unique_ptr<InProcessExtension> extension_;
    std::map<std::string, std::string> emblemFiles_; // by badge identifier
    std::map<int, OverlaysObserver> observers_;
    int nextObserver_ = 1;
};

} // namespace scrivlet
