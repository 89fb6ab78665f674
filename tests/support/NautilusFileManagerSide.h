#pragma once

#include <chrono>
#include <string>
#include <vector>

// GLib's and the file manager's C types, as their headers declare them.
typedef struct _GTypeModule GTypeModule;
typedef struct _NautilusFileInfo NautilusFileInfo;

namespace scrivlet::nautilus {

// The GTK file manager's side of its extension modules, for tests and benchmarks that load
// the extension's module without the file manager: the module is opened and initialised as
// the file manager does it, its provider is made from the type it lists, and file objects
// stand in for the file manager's shown files. Everything runs on the thread that iterates
// GLib's default main context.

// What the file manager's copy of a shown file was told.
struct ShownFile {
    std::string uri;
    std::vector<std::string> emblems;
    int invalidated = 0;
};

// A file object for `shown`, which must outlive it (g_object_unref it).
NautilusFileInfo* makeFileInfo(ShownFile& shown);

// The files of the folders the file manager has loaded, found by their URI when the module
// looks a file up; a file not here is in no loaded folder.
ShownFile& loadedFile(const std::string& uri);
void forgetLoadedFiles();

// The module, opened once per process (it is never unloaded, as in the file manager).
class LoadedModule {
public:
    // Opens and initialises the module at `path` (first call only), with HOME pointing at a
    // throw-away folder while it starts; then shuts its host down until start().
    static LoadedModule& open(const std::string& path);

    // Starts the module's host, in the current HOME, and makes its provider; stop() ends both.
    void start();
    void stop();

    // The module's answers, asked as the file manager asks.
    std::vector<std::string> emblemsOf(const std::string& uri);
    // The labels of the menu items for a selection of URIs.
    std::vector<std::string> menuLabels(const std::vector<std::string>& uris);
    // Activates the menu item at `index` for the selection, as a click on it does.
    void activateMenuItem(const std::vector<std::string>& uris, std::size_t index);

private:
    LoadedModule() = default;
    void* handle_ = nullptr;
    GTypeModule* typeModule_ = nullptr;
    void* provider_ = nullptr;
};

// Runs what GLib's default main context has ready, or waits a moment when nothing is.
void iterateOnce();

// Iterates GLib's default main context until `done` answers true or `limit` passed; answers
// what `done` answered last.
template <typename Predicate>
bool iterateUntil(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        iterateOnce();
    }
    return done();
}

} // namespace scrivlet::nautilus
