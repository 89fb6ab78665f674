// The module the GTK file manager loads from its extension folder: one object that gives each
// shown file its emblem and the selection its context-menu items, on the host the process
// shares. Its three entry points are the file manager's module interface.
#include "Platform/base/Log.h"
#include "ScrivletFinderSync/nautilus/NautilusExtensionHost.h"

#include <exception>
#include <gio/gio.h>
#include <memory>
#include <string>
#include <vector>

// The module interface's three functions are declared without C linkage, while the file
// manager looks them up by their C names; GLib's headers came first, so only the file
// manager's declarations fall inside.
extern "C" {
#include <nautilus-extension.h>
}

namespace scrivlet {

namespace {

// The host of the module's life: taken when the file manager initialises the module, let go
// when it shuts it down.
std::shared_ptr<NautilusExtensionHost>& moduleHost() {
    static std::shared_ptr<NautilusExtensionHost> host;
    return host;
}

GType& providerType() {
    static GType type = 0;
    return type;
}

struct GFree {
    void operator()(char* text) const { g_free(text); }
};
using GString = std::unique_ptr<char, GFree>;

// The bytes of the file's path on disk, as the store keys it; none for a file elsewhere than
// on this machine, of which the extension does not speak.
std::optional<std::string> localPath(NautilusFileInfo* file) {
    const GString uri(nautilus_file_info_get_uri(file));
    if (!uri) {
        return std::nullopt;
    }
    const GString path(g_filename_from_uri(uri.get(), nullptr, nullptr));
    if (!path) {
        return std::nullopt;
    }
    return std::string(path.get());
}

// The file manager asks a file again when its shown copy is told that its extension
// information went stale; a file in no folder it has loaded has nothing to be told.
void invalidate(const std::string& path) {
    const GString uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
    if (!uri) {
        return;
    }
    NautilusFileInfo* file = nautilus_file_info_lookup_for_uri(uri.get());
    if (file == nullptr) {
        return;
    }
    nautilus_file_info_invalidate_extension_info(file);
    g_object_unref(file);
}

NautilusOperationResult updateFileInfo(NautilusInfoProvider* /*provider*/, NautilusFileInfo* file,
                                       GClosure* /*updateComplete*/,
                                       NautilusOperationHandle** /*handle*/) {
    const auto& host = moduleHost();
    if (!host) {
        return NAUTILUS_OPERATION_COMPLETE;
    }
    try {
        if (const auto path = localPath(file)) {
            if (const auto emblem = host->emblemFor(*path)) {
                nautilus_file_info_add_emblem(file, emblem->c_str());
            }
        }
    } catch (...) {
        // no emblem rather than an error inside the file manager
    }
    return NAUTILUS_OPERATION_COMPLETE;
}

void cancelUpdate(NautilusInfoProvider* /*provider*/, NautilusOperationHandle* /*handle*/) {}

// What a menu item's activation needs; freed with the item's signal connection.
struct Command {
    NautilusExtensionHost::MenuEntry entry;
    std::vector<std::string> paths;
};

void activate(NautilusMenuItem* /*item*/, gpointer data) {
    const auto* command = static_cast<const Command*>(data);
    try {
        if (const auto& host = moduleHost()) {
            host->perform(command->entry, command->paths);
        }
    } catch (const std::exception& error) {
        NSLog("Scrivlet FinderSync: The command failed: %@", {error.what()});
    } catch (...) {
        NSLog("Scrivlet FinderSync: The command failed");
    }
}

void freeCommand(gpointer data, GClosure* /*closure*/) {
    delete static_cast<Command*>(data);
}

GList* menuItems(const std::vector<NautilusExtensionHost::MenuEntry>& entries,
                 const std::vector<std::string>& paths) {
    GList* items = nullptr;
    int index = 0;
    for (const auto& entry : entries) {
        const std::string name = "ScrivletFinderSync::" + std::to_string(index++);
        NautilusMenuItem* item =
            nautilus_menu_item_new(name.c_str(), entry.title.c_str(), nullptr, nullptr);
        g_signal_connect_data(item, "activate", G_CALLBACK(activate), new Command{entry, paths},
                              &freeCommand, GConnectFlags{});
        items = g_list_append(items, item);
    }
    return items;
}

// Called on every change of selection, not only for a context menu: one store lookup at most,
// and the selection told to the app when it changed.
GList* fileItems(NautilusMenuProvider* /*provider*/, GList* files) {
    const auto& host = moduleHost();
    if (!host) {
        return nullptr;
    }
    std::vector<std::string> paths;
    for (GList* link = files; link != nullptr; link = link->next) {
        auto path = localPath(static_cast<NautilusFileInfo*>(link->data));
        if (!path) {
            paths.clear();
            break;
        }
        paths.push_back(std::move(*path));
    }
    try {
        host->tellSelection(paths);
        if (paths.empty()) {
            return nullptr;
        }
        return menuItems(host->menuFor(paths), paths);
    } catch (...) {
        NSLog("Scrivlet FinderSync: No menu for the selection");
        return nullptr;
    }
}

void initInfoProvider(gpointer iface, gpointer /*data*/) {
    auto* info = static_cast<NautilusInfoProviderInterface*>(iface);
    info->update_file_info = &updateFileInfo;
    info->cancel_update = &cancelUpdate;
}

void initMenuProvider(gpointer iface, gpointer /*data*/) {
    auto* menu = static_cast<NautilusMenuProviderInterface*>(iface);
    menu->get_file_items = &fileItems;
}

// Once per process: the file manager initialises a module once and never unloads it.
void registerProviderType(GTypeModule* module) {
    if (providerType() != 0) {
        return;
    }
    GTypeInfo info{};
    info.class_size = sizeof(GObjectClass);
    info.instance_size = sizeof(GObject);
    providerType() = g_type_module_register_type(module, G_TYPE_OBJECT,
                                                 "ScrivletFinderSyncProvider", &info, GTypeFlags{});
    const GInterfaceInfo infoProvider{&initInfoProvider, nullptr, nullptr};
    g_type_module_add_interface(module, providerType(), NAUTILUS_TYPE_INFO_PROVIDER, &infoProvider);
    const GInterfaceInfo menuProvider{&initMenuProvider, nullptr, nullptr};
    g_type_module_add_interface(module, providerType(), NAUTILUS_TYPE_MENU_PROVIDER, &menuProvider);
}

} // namespace

} // namespace scrivlet

extern "C" {

__attribute__((visibility("default"))) void nautilus_module_initialize(GTypeModule* module) {
    using namespace scrivlet;
    registerProviderType(module);
    // Nothing thrown may reach the file manager: without the host there are no emblems and
    // no items.
    try {
        moduleHost() = NautilusExtensionHost::acquire();
        moduleHost()->setChangeObserver(&invalidate);
    } catch (const std::exception& error) {
        moduleHost().reset();
        NSLog("Scrivlet FinderSync: Cannot start in the file manager: %@", {error.what()});
    } catch (...) {
        moduleHost().reset();
        NSLog("Scrivlet FinderSync: Cannot start in the file manager");
    }
}

__attribute__((visibility("default"))) void nautilus_module_shutdown() {
    scrivlet::moduleHost().reset();
}

__attribute__((visibility("default"))) void nautilus_module_list_types(const GType** types,
                                                                       int* num_types) {
    *types = &scrivlet::providerType();
    *num_types = 1;
}

} // extern "C"
