#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace scrivlet {

class FileManagerDesktop;
class FinderSyncExtension;
class RunLoopBackend;
class Services;

// The extension inside a file manager's process, whichever file manager it is: the one
// FinderSyncExtension of the process on a desktop whose Finder Sync controller hands badges and
// menus to the file manager, the store it reads, and the trace of what the file manager was
// told. The file manager's host adds what its file manager asks in its own terms and drives the
// run loop from the file manager's event loop. Everything runs on the file manager's main
// thread.
class InProcessExtension {
public:
    // Hears each file whose badge the extension set after the app announced a change.
    using ChangeHandler =
        std::function<void(const std::string& path, const std::string& identifier)>;

    // `backend` is the run loop's, which the file manager's event loop drives. `drawableSymbols`
    // are the badge symbols the host can draw. `frameworkAddress` is an address inside a library
    // in <app bundle>/Contents/Frameworks: the app beside it is started with a command URL when
    // no app runs and none is registered for the scheme.
    InProcessExtension(std::unique_ptr<RunLoopBackend> backend,
                       std::set<std::string> drawableSymbols, const void* frameworkAddress,
                       ChangeHandler changed);
    // The extension leaves the run loop before the loop goes with the services.
    ~InProcessExtension();
    InProcessExtension(const InProcessExtension&) = delete;
    InProcessExtension& operator=(const InProcessExtension&) = delete;

    Services& services() { return *services_; }
    FileManagerDesktop& desktop() { return *desktop_; }
    FinderSyncExtension& extension() { return *extension_; }
    // Ends the extension ahead of the services, for a host whose loop driver must go between.
    void endExtension();

    // The file manager's process lives long: an extension that started before the app ever made
    // the store starts again once the store exists (true then). A store that was there but
    // could not be opened stays unopened, as the extension's rule says.
    bool startAgainIfTheStoreAppeared();

    // The badge identifier of the file at `path` (absolute), "" for none. One store lookup that
    // never waits for a lock the app holds.
    std::string badgeIdentifierFor(const std::string& path);

    // The context menu the extension builds for `paths` (selected, in the file manager's
    // order): each item's title and the command it sends.
    struct MenuEntry {
        std::string title;
        std::string action;
    };
    std::vector<MenuEntry> menuFor(const std::vector<std::string>& paths);
    // Runs the command of a menu entry for `paths`. What it posts to the loop runs once the
    // file manager's loop looks again: the host wakes it.
    void perform(const MenuEntry& entry, const std::vector<std::string>& paths);

    // When this variable names a file, one line per answer and event is appended to it,
    // tab-separated: what the file manager was told, for a person or a test to read.
    static constexpr const char* traceVariable = "SCRIVLET_FILE_MANAGER_TRACE";
    bool tracing() const { return traceFile_.has_value(); }
    void trace(const std::vector<std::string>& fields);
    // "KIND<TAB>IDENTIFIER<TAB>PATH", IDENTIFIER "none" for no badge.
    void traceBadge(const std::string& kind, const std::string& identifier,
                    const std::string& path);

private:
    void startExtension();
    void badgeSet(const std::string& path, const std::string& identifier);

    FileManagerDesktop* desktop_ = nullptr;
    std::unique_ptr<Services> services_;
    std::shared_ptr<FinderSyncExtension> extension_;
    bool storeExisted_ = false; // when the extension last started
    ChangeHandler changed_;
    // Set while a badge request is answered: the controller's badge set is the answer then.
    std::optional<std::string>* answer_ = nullptr;
    std::optional<std::filesystem::path> traceFile_;
};

} // namespace scrivlet
