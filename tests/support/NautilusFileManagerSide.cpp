#include "tests/support/NautilusFileManagerSide.h"

#include "tests/support/TempHome.h"

#include <dlfcn.h>
#include <gio/gio.h>
#include <map>
#include <stdexcept>
#include <thread>

extern "C" {
#include <nautilus-extension.h>
// Set by the file manager: how its files are found by location.
extern NautilusFileInfo* (*nautilus_file_info_getter)(GFile* location, gboolean create);
}

namespace scrivlet::nautilus {

namespace {

struct FakeFileInfo {
    GObject parent;
    ShownFile* shown;
};

ShownFile& shownOf(NautilusFileInfo* file) {
    return *reinterpret_cast<FakeFileInfo*>(file)->shown;
}
char* fakeUri(NautilusFileInfo* file) {
    return g_strdup(shownOf(file).uri.c_str());
}
void fakeAddEmblem(NautilusFileInfo* file, const char* name) {
    shownOf(file).emblems.emplace_back(name);
}
void fakeInvalidate(NautilusFileInfo* file) {
    ++shownOf(file).invalidated;
}
void initFakeFileInfo(gpointer iface, gpointer /*data*/) {
    auto* info = static_cast<NautilusFileInfoInterface*>(iface);
    info->get_uri = &fakeUri;
    info->add_emblem = &fakeAddEmblem;
    info->invalidate_extension_info = &fakeInvalidate;
}

GType fakeFileInfoType() {
    static const GType type = [] {
        GTypeInfo info{};
        info.class_size = sizeof(GObjectClass);
        info.instance_size = sizeof(FakeFileInfo);
        const GType registered =
            g_type_register_static(G_TYPE_OBJECT, "TestShownFile", &info, GTypeFlags{});
        const GInterfaceInfo fileInfo{&initFakeFileInfo, nullptr, nullptr};
        g_type_add_interface_static(registered, NAUTILUS_TYPE_FILE_INFO, &fileInfo);
        return registered;
    }();
    return type;
}

std::map<std::string, ShownFile>& loadedFiles() {
    static std::map<std::string, ShownFile> files;
    return files;
}

NautilusFileInfo* lookUpLoaded(GFile* location, gboolean /*create*/) {
    char* uri = g_file_get_uri(location);
    const auto found = loadedFiles().find(uri);
    g_free(uri);
    return found == loadedFiles().end() ? nullptr : makeFileInfo(found->second);
}

// The module's entry points.
struct ModuleFunctions {
    void (*initialize)(GTypeModule*) = nullptr;
    void (*shutdown)() = nullptr;
    void (*listTypes)(const GType**, int*) = nullptr;
};
ModuleFunctions& module() {
    static ModuleFunctions functions;
    return functions;
}

// The type module whose load initialises the module and whose unload shuts it down.
gboolean loadModule(GTypeModule* typeModule) {
    module().initialize(typeModule);
    return TRUE;
}
void unloadModule(GTypeModule* /*typeModule*/) {
    module().shutdown();
}
void initTypeModuleClass(gpointer klass, gpointer /*data*/) {
    auto* moduleClass = static_cast<GTypeModuleClass*>(klass);
    moduleClass->load = &loadModule;
    moduleClass->unload = &unloadModule;
}
GTypeModule* makeTypeModule() {
    GTypeInfo info{};
    info.class_size = sizeof(GTypeModuleClass);
    info.class_init = &initTypeModuleClass;
    info.instance_size = sizeof(GTypeModule);
    const GType type =
        g_type_register_static(G_TYPE_TYPE_MODULE, "TestExtensionModule", &info, GTypeFlags{});
    return static_cast<GTypeModule*>(g_object_new(type, nullptr));
}

template <typename Function> Function symbol(void* handle, const char* name) {
    void* found = ::dlsym(handle, name);
    if (found == nullptr) {
        throw std::runtime_error(std::string("the module has no ") + name);
    }
    return reinterpret_cast<Function>(found);
}

// The menu items the module gives for a selection; the caller unrefs them.
std::vector<NautilusMenuItem*> menuItems(void* provider, const std::vector<std::string>& uris) {
    std::vector<ShownFile> selected;
    selected.reserve(uris.size());
    GList* files = nullptr;
    for (const std::string& uri : uris) {
        selected.push_back({uri, {}, 0});
        files = g_list_append(files, makeFileInfo(selected.back()));
    }
    GList* list = nautilus_menu_provider_get_file_items(NAUTILUS_MENU_PROVIDER(provider), files);
    g_list_free_full(files, g_object_unref);
    std::vector<NautilusMenuItem*> items;
    for (GList* link = list; link != nullptr; link = link->next) {
        items.push_back(static_cast<NautilusMenuItem*>(link->data));
    }
    g_list_free(list);
    return items;
}

} // namespace

NautilusFileInfo* makeFileInfo(ShownFile& shown) {
    auto* object = static_cast<FakeFileInfo*>(g_object_new(fakeFileInfoType(), nullptr));
    object->shown = &shown;
    return reinterpret_cast<NautilusFileInfo*>(object);
}

ShownFile& loadedFile(const std::string& uri) {
    ShownFile& file = loadedFiles()[uri];
    file.uri = uri;
    return file;
}

void forgetLoadedFiles() {
    loadedFiles().clear();
}

LoadedModule& LoadedModule::open(const std::string& path) {
    static LoadedModule* loaded = [&path] {
        auto* opened = new LoadedModule();
        opened->handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (opened->handle_ == nullptr) {
            throw std::runtime_error(::dlerror());
        }
        module().initialize =
            symbol<void (*)(GTypeModule*)>(opened->handle_, "nautilus_module_initialize");
        module().shutdown = symbol<void (*)()>(opened->handle_, "nautilus_module_shutdown");
        module().listTypes =
            symbol<void (*)(const GType**, int*)>(opened->handle_, "nautilus_module_list_types");
        nautilus_file_info_getter = &lookUpLoaded;
        const TempHome home;
        opened->typeModule_ = makeTypeModule();
        if (g_type_module_use(opened->typeModule_) == FALSE) {
            throw std::runtime_error("the module does not load");
        }
        module().shutdown();
        return opened;
    }();
    return *loaded;
}

void LoadedModule::start() {
    module().initialize(typeModule_);
    const GType* types = nullptr;
    int count = 0;
    module().listTypes(&types, &count);
    if (count != 1) {
        throw std::runtime_error("the module lists " + std::to_string(count) + " types");
    }
    provider_ = g_object_new(types[0], nullptr);
}

void LoadedModule::stop() {
    g_object_unref(provider_);
    provider_ = nullptr;
    module().shutdown();
}

std::vector<std::string> LoadedModule::emblemsOf(const std::string& uri) {
    ShownFile asked{uri, {}, 0};
    NautilusFileInfo* info = makeFileInfo(asked);
    // Only an answer that comes later calls its closure.
    GClosure* complete = g_cclosure_new(G_CALLBACK(+[] {}), nullptr, nullptr);
    g_closure_ref(complete);
    g_closure_sink(complete);
    NautilusOperationHandle* handle = nullptr;
    const auto result = nautilus_info_provider_update_file_info(NAUTILUS_INFO_PROVIDER(provider_),
                                                                info, complete, &handle);
    g_closure_unref(complete);
    g_object_unref(info);
    if (result != NAUTILUS_OPERATION_COMPLETE) {
        throw std::runtime_error("the emblem answer is not complete at once");
    }
    return asked.emblems;
}

std::vector<std::string> LoadedModule::menuLabels(const std::vector<std::string>& uris) {
    std::vector<std::string> labels;
    for (NautilusMenuItem* item : menuItems(provider_, uris)) {
        char* label = nullptr;
        g_object_get(item, "label", &label, nullptr);
        labels.emplace_back(label);
        g_free(label);
        g_object_unref(item);
    }
    return labels;
}

void LoadedModule::activateMenuItem(const std::vector<std::string>& uris, std::size_t index) {
    const auto items = menuItems(provider_, uris);
    if (index < items.size()) {
        nautilus_menu_item_activate(items[index]);
    }
    for (NautilusMenuItem* item : items) {
        g_object_unref(item);
    }
}

void iterateOnce() {
    if (g_main_context_iteration(nullptr, FALSE) == FALSE) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace scrivlet::nautilus
