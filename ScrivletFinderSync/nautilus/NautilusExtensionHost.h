#pragma once

#include "ScrivletFinderSync/filemanager/InProcessExtension.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace scrivlet {

class GLibRunLoopDriver;

// The extension's host inside the GTK file manager's process: the one FinderSyncExtension of
// the process, on a platform whose run loop GLib's main loop drives and whose Finder Sync
// controller turns badges into theme emblems and menus into the file manager's menu items.
// The module's providers (emblems, context menu) share it. Everything runs on the file
// manager's main thread; no GLib or file manager type crosses this header.
class NautilusExtensionHost {
public:
    // The host of this process, started when none runs.
    static std::shared_ptr<NautilusExtensionHost> acquire();
    ~NautilusExtensionHost();
    NautilusExtensionHost(const NautilusExtensionHost&) = delete;
    NautilusExtensionHost& operator=(const NautilusExtensionHost&) = delete;

    // The emblem of the file at `path` (absolute) as the file manager names it
    // ("scrivlet-flagged"); none for a file without a badge. One store lookup that never waits
    // for a lock the app holds.
    std::optional<std::string> emblemFor(const std::string& path);

    // Hears each file whose badge the extension set after the app announced a change: the file
    // manager is to ask for its emblem again.
    using ChangeObserver = std::function<void(const std::string& path)>;
    void setChangeObserver(ChangeObserver observer) { changeObserver_ = std::move(observer); }

    // The context menu the extension builds for `paths` (selected, in the file manager's
    // order): each item's title and the command it sends.
    using MenuEntry = InProcessExtension::MenuEntry;
    std::vector<MenuEntry> menuFor(const std::vector<std::string>& paths);
    // Runs the command of a menu entry for `paths`; the URLs it opens travel to the app on a
    // worker thread.
    void perform(const MenuEntry& entry, const std::vector<std::string>& paths);

    // Tells the app the file manager's selection, for its panel: the one selected file, or
    // nothing for none, several, or one elsewhere than on this machine (`paths` empty). Every
    // selection change is written, a repeated one too: the app withdraws the answer when
    // another of the file manager's windows comes to the front, and takes it again only from
    // a fresh write, which the same file selected there must give.
    void tellSelection(const std::vector<std::string>& paths);

    // When this variable names a file, one line per answer and event is appended to it,
    // tab-separated: what the file manager was told, for a person or a test to read.
    static constexpr const char* traceVariable = InProcessExtension::traceVariable;

private:
    NautilusExtensionHost();
    void startAgainIfTheStoreAppeared();
    void badgeChanged(const std::string& path, const std::string& identifier);

    std::unique_ptr<InProcessExtension> extension_;
    std::unique_ptr<GLibRunLoopDriver> driver_;
    bool announcing_ = false; // while the extension tells of changed badges
    ChangeObserver changeObserver_;
};

} // namespace scrivlet
