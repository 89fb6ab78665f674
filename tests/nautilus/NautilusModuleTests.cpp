// The extension's module for the GTK file manager, loaded as the file manager loads it: opened
// with dlopen, initialised through a type module of the test's own and its provider made from
// the type it lists; asked with file objects that play the file manager's, in a temporary home
// with a store that plays the app's part and a URL receiver that plays the running app. No
// display: the file manager's side is GLib's default main context, which the test iterates.
#include "Platform/base/RunLoop.h"
#include "Platform/base/URLComponents.h"
#include "Platform/system/URLReceiver.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeRefreshNotifier.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <dlfcn.h>
#include <fstream>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <thread>

extern "C" {
#include <nautilus-extension.h>
// Set by the file manager: how its files are found by location.
extern NautilusFileInfo* (*nautilus_file_info_getter)(GFile* location, gboolean create);
}

namespace scrivlet {

namespace {

using namespace std::chrono_literals;

// ---- The file manager's side -------------------------------------------------------------

// What the file manager's copy of a shown file was told.
struct ShownFile {
    std::string uri;
    std::vector<std::string> emblems;
    int invalidated = 0;
};

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

// The files of the folders the file manager has loaded, by URI.
std::map<std::string, ShownFile>& loadedFiles() {
    static std::map<std::string, ShownFile> files;
    return files;
}

NautilusFileInfo* makeFileInfo(ShownFile& shown) {
    auto* object = static_cast<FakeFileInfo*>(g_object_new(fakeFileInfoType(), nullptr));
    object->shown = &shown;
    return reinterpret_cast<NautilusFileInfo*>(object);
}

NautilusFileInfo* lookUpLoaded(GFile* location, gboolean /*create*/) {
    char* uri = g_file_get_uri(location);
    const auto found = loadedFiles().find(uri);
    g_free(uri);
    return found == loadedFiles().end() ? nullptr : makeFileInfo(found->second);
}

// The module as the file manager holds it: a type module whose load initialises it and whose
// unload shuts it down.
struct ModuleFunctions {
    void (*initialize)(GTypeModule*) = nullptr;
    void (*shutdown)() = nullptr;
    void (*listTypes)(const GType**, int*) = nullptr;
};
ModuleFunctions& module() {
    static ModuleFunctions functions;
    return functions;
}

gboolean loadModule(GTypeModule* typeModule) {
    module().initialize(typeModule);
    return TRUE;
}
void unloadModule(GTypeModule* /*typeModule*/) {
    module().shutdown();
}
void initTestModuleClass(gpointer klass, gpointer /*data*/) {
    auto* moduleClass = static_cast<GTypeModuleClass*>(klass);
    moduleClass->load = &loadModule;
    moduleClass->unload = &unloadModule;
}

GTypeModule* makeTypeModule() {
    GTypeInfo info{};
    info.class_size = sizeof(GTypeModuleClass);
    info.class_init = &initTestModuleClass;
    info.instance_size = sizeof(GTypeModule);
    const GType type =
        g_type_register_static(G_TYPE_TYPE_MODULE, "TestExtensionModule", &info, GTypeFlags{});
    return static_cast<GTypeModule*>(g_object_new(type, nullptr));
}

class ModuleEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        handle_ = ::dlopen(SCRIVLET_NAUTILUS_MODULE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << ::dlerror();
        module().initialize = reinterpret_cast<void (*)(GTypeModule*)>(
            ::dlsym(handle_, "nautilus_module_initialize"));
        module().shutdown =
            reinterpret_cast<void (*)()>(::dlsym(handle_, "nautilus_module_shutdown"));
        module().listTypes = reinterpret_cast<void (*)(const GType**, int*)>(
            ::dlsym(handle_, "nautilus_module_list_types"));
        ASSERT_TRUE(module().initialize && module().shutdown && module().listTypes);
        nautilus_file_info_getter = &lookUpLoaded;
        // Loaded and used for the whole run, as in the file manager. Each test starts the
        // module's host afresh in its own home; this first one goes at once.
        const TempHome home;
        typeModule_ = makeTypeModule();
        ASSERT_TRUE(g_type_module_use(typeModule_));
        module().shutdown();
    }
    static GTypeModule* typeModule() { return typeModule_; }

private:
    void* handle_ = nullptr;
    static inline GTypeModule* typeModule_ = nullptr;
};
[[maybe_unused]] ::testing::Environment* const moduleEnvironment =
    ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

// ---- The app's side ----------------------------------------------------------------------

// The running app's end of URL delivery, on a thread of its own.
class ReceivingApp {
public:
    ReceivingApp() {
        thread_ = std::thread([this] {
            RunLoop loop(makeRealRunLoopBackend());
            std::error_code error;
            auto receiver = URLReceiver::claim("scrivlet", error);
            if (receiver) {
                receiver->start(loop, [this](const std::vector<URL>& urls) {
                    const std::lock_guard lock(mutex_);
                    for (const URL& url : urls) {
                        const auto components = URLComponents::fromURL(url);
                        received_.push_back(components->host().value_or("") + " " +
                                            components->firstValue("path").value_or(""));
                    }
                    changed_.notify_all();
                });
            }
            {
                const std::lock_guard lock(mutex_);
                loop_ = &loop;
                listening_ = receiver != nullptr;
                changed_.notify_all();
            }
            loop.run();
        });
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return loop_ != nullptr; });
    }
    ~ReceivingApp() {
        loop_->stop();
        thread_.join();
    }
    ReceivingApp(const ReceivingApp&) = delete;
    ReceivingApp& operator=(const ReceivingApp&) = delete;

    bool listening() {
        const std::lock_guard lock(mutex_);
        return listening_;
    }
    // Iterates the file manager's loop meanwhile: the module's commands leave from there.
    std::vector<std::string> waitForURLs(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        for (;;) {
            {
                const std::lock_guard lock(mutex_);
                if (received_.size() >= count || std::chrono::steady_clock::now() > deadline) {
                    return received_;
                }
            }
            g_main_context_iteration(nullptr, FALSE);
            std::this_thread::sleep_for(2ms);
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> received_;
    RunLoop* loop_ = nullptr;
    bool listening_ = false;
    std::thread thread_;
};

// ---- The tests ---------------------------------------------------------------------------

class NautilusModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        loadedFiles().clear();
        module().initialize(ModuleEnvironment::typeModule());
        const GType* types = nullptr;
        int count = 0;
        module().listTypes(&types, &count);
        ASSERT_EQ(count, 1);
        provider_ = g_object_new(types[0], nullptr);
    }
    void TearDown() override {
        g_object_unref(provider_);
        module().shutdown();
        loadedFiles().clear();
    }

    AnnotationStore& appStore() {
        if (!writer_) {
            writer_ = std::make_unique<AnnotationStore>(AnnotationStore::defaultPath());
        }
        return *writer_;
    }
    std::string file(const std::string& name) {
        return home_.makeFile("Documents/" + name, name).string();
    }
    std::string annotated(const std::string& name,
                          Annotation::Status status = Annotation::Status::reviewed) {
        const std::string path = file(name);
        save(path, status);
        return path;
    }
    void save(const std::string& path, Annotation::Status status) {
        Annotation record = appStore().fetch(path).value_or(Annotation::forFile(path, Date()));
        record.status = status;
        appStore().save(record);
    }
    static std::string uriOf(const std::string& path) {
        char* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
        std::string text(uri);
        g_free(uri);
        return text;
    }
    // The file as a loaded folder shows it.
    ShownFile& shown(const std::string& path) {
        ShownFile& entry = loadedFiles()[uriOf(path)];
        entry.uri = uriOf(path);
        return entry;
    }

    // The emblems the module gives a file, asked as the file manager asks.
    std::vector<std::string> emblemsOf(const std::string& uri) {
        ShownFile asked{uri, {}, 0};
        NautilusFileInfo* info = makeFileInfo(asked);
        // An answer that is complete at once never calls its closure.
        GClosure* complete = g_cclosure_new(G_CALLBACK(+[] { ADD_FAILURE(); }), nullptr, nullptr);
        g_closure_ref(complete);
        g_closure_sink(complete);
        NautilusOperationHandle* handle = nullptr;
        const auto result = nautilus_info_provider_update_file_info(
            NAUTILUS_INFO_PROVIDER(provider_), info, complete, &handle);
        g_closure_unref(complete);
        g_object_unref(info);
        EXPECT_EQ(result, NAUTILUS_OPERATION_COMPLETE);
        return asked.emblems;
    }
    std::vector<std::string> emblemsOfPath(const std::string& path) {
        return emblemsOf(uriOf(path));
    }

    // The menu items for a selection: their labels, and the items to activate.
    struct Items {
        std::vector<std::string> labels;
        std::vector<NautilusMenuItem*> items;
        ~Items() {
            for (auto* item : items) {
                g_object_unref(item);
            }
        }
    };
    std::unique_ptr<Items> menuFor(const std::vector<std::string>& uris) {
        std::vector<ShownFile> selected;
        selected.reserve(uris.size());
        GList* files = nullptr;
        for (const std::string& uri : uris) {
            selected.push_back({uri, {}, 0});
            files = g_list_append(files, makeFileInfo(selected.back()));
        }
        GList* list =
            nautilus_menu_provider_get_file_items(NAUTILUS_MENU_PROVIDER(provider_), files);
        g_list_free_full(files, g_object_unref);
        auto items = std::make_unique<Items>();
        for (GList* link = list; link != nullptr; link = link->next) {
            auto* item = static_cast<NautilusMenuItem*>(link->data);
            char* label = nullptr;
            g_object_get(item, "label", &label, nullptr);
            items->labels.emplace_back(label);
            g_free(label);
            items->items.push_back(item);
        }
        g_list_free(list);
        return items;
    }
    std::unique_ptr<Items> menuForPaths(const std::vector<std::string>& paths) {
        std::vector<std::string> uris;
        for (const std::string& path : paths) {
            uris.push_back(uriOf(path));
        }
        return menuFor(uris);
    }

    // Iterates the file manager's loop until `done` or a few seconds passed.
    template <typename Predicate> static bool iterateUntil(Predicate done) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            if (g_main_context_iteration(nullptr, FALSE) == FALSE) {
                std::this_thread::sleep_for(2ms);
            }
        }
        return done();
    }
    static void iterateAWhile() {
        const auto until = std::chrono::steady_clock::now() + 100ms;
        while (std::chrono::steady_clock::now() < until) {
            g_main_context_iteration(nullptr, FALSE);
            std::this_thread::sleep_for(2ms);
        }
    }

    std::size_t nsLogLinesWith(const std::string& fragment) const {
        const auto lines = log_.messages("");
        return static_cast<std::size_t>(
            std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
                return line.find(fragment) != std::string::npos;
            }));
    }

    TempHome home_;
    LogCapture log_;
    std::unique_ptr<AnnotationStore> writer_;
    gpointer provider_ = nullptr;
};

using Emblems = std::vector<std::string>;

TEST_F(NautilusModuleTest, EmblemsFollowTheBadgeRuleAndNameTheThemesIcons) {
    const std::string reviewed = annotated("reviewed.txt");
    const std::string none = annotated("none.txt", Annotation::Status::none);
    const std::string flagged = annotated("flagged #1 100%.txt", Annotation::Status::flagged);

    EXPECT_EQ(emblemsOfPath(reviewed), Emblems{"scrivlet-annotated"});
    EXPECT_EQ(emblemsOfPath(none), Emblems{"scrivlet-annotated"});
    EXPECT_EQ(emblemsOfPath(flagged), Emblems{"scrivlet-flagged"});
    EXPECT_EQ(emblemsOfPath(file("plain.txt")), Emblems{});
    EXPECT_EQ(emblemsOf("sftp://server" + reviewed), Emblems{});

    // The file manager looks "emblem-" + name up in the icon theme: each name has its icon,
    // the oval in the badge's colour.
    for (const auto& [name, colour] :
         {std::pair{"scrivlet-annotated", "#007aff"}, std::pair{"scrivlet-flagged", "#ff9500"}}) {
        std::ifstream icon(std::string(SCRIVLET_EMBLEM_DIR) + "/emblem-" + name + ".svg");
        ASSERT_TRUE(icon) << name;
        const std::string svg{std::istreambuf_iterator<char>(icon), {}};
        EXPECT_NE(svg.find(std::string("<ellipse fill=\"") + colour), std::string::npos) << svg;
    }
}

TEST_F(NautilusModuleTest, EachAnnouncedFileIsAskedAgainOnceAndAnswersItsNewEmblem) {
    const std::string report = annotated("report.txt");
    const std::string other = file("other.txt");
    const std::string elsewhere = annotated("not-shown.txt");
    ShownFile& shownReport = shown(report);
    ShownFile& shownOther = shown(other);

    save(report, Annotation::Status::flagged);
    save(other, Annotation::Status::none);
    save(elsewhere, Annotation::Status::flagged);
    // Announced twice: a path drained twice is asked again once. A file in no loaded folder
    // has nobody to tell.
    BadgeRefreshNotifier::notifyChange(report);
    BadgeRefreshNotifier::notifyChange(other);
    BadgeRefreshNotifier::notifyChange(report);
    BadgeRefreshNotifier::notifyChange(elsewhere);
    ASSERT_TRUE(
        iterateUntil([&] { return shownReport.invalidated > 0 && shownOther.invalidated > 0; }));
    iterateAWhile();
    EXPECT_EQ(shownReport.invalidated, 1);
    EXPECT_EQ(shownOther.invalidated, 1);
    EXPECT_EQ(emblemsOfPath(report), Emblems{"scrivlet-flagged"});
    EXPECT_EQ(emblemsOfPath(other), Emblems{"scrivlet-annotated"});

    appStore().deleteByPath(report);
    BadgeRefreshNotifier::notifyChange(report);
    ASSERT_TRUE(iterateUntil([&] { return shownReport.invalidated == 2; }));
    EXPECT_EQ(emblemsOfPath(report), Emblems{});
}

TEST_F(NautilusModuleTest, TheMenuOffersTheExtensionsItemsAndItsCommandsReachTheApp) {
    ReceivingApp app;
    ASSERT_TRUE(app.listening());
    const std::string report = annotated("report #1 100%.txt");
    const std::string plain = file("plain.txt");
    const std::string third = file("third.txt");

    EXPECT_EQ(menuForPaths({plain})->labels, std::vector<std::string>{"Annotate This File\u2026"});
    const auto three = menuForPaths({third, report, plain});
    ASSERT_EQ(three->labels, std::vector<std::string>{"Annotate 3 Files\u2026"});
    const auto one = menuForPaths({report});
    ASSERT_EQ(one->labels,
              (std::vector<std::string>{"Edit Annotation\u2026", "Remove Annotation"}));
    EXPECT_TRUE(menuFor({uriOf(plain), "sftp://server/a.txt"})->labels.empty())
        << "the extension speaks of files on this machine only";

    nautilus_menu_item_activate(three->items.front());
    EXPECT_EQ(
        app.waitForURLs(3),
        (std::vector<std::string>{"annotate " + third, "annotate " + report, "annotate " + plain}))
        << "one URL per file, in the file manager's order, each path intact";
    nautilus_menu_item_activate(one->items.back());
    const auto all = app.waitForURLs(4);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[3], "remove " + report);
}

TEST_F(NautilusModuleTest, AStoreThatCannotBeOpenedGivesNoEmblemsAndTheOneItemMenu) {
    // Reloaded over a store damaged beyond reading.
    const std::string report = annotated("report.txt", Annotation::Status::flagged);
    writer_.reset();
    std::ofstream(AnnotationStore::defaultPath(), std::ios::binary | std::ios::trunc)
        << std::string(8192, 'x');
    TearDown();
    log_.clear();
    SetUp();

    EXPECT_EQ(emblemsOfPath(report), Emblems{});
    EXPECT_EQ(menuForPaths({report})->labels, std::vector<std::string>{"Annotate This File\u2026"});
    ShownFile& shownReport = shown(report);
    BadgeRefreshNotifier::notifyChange(report);
    ASSERT_TRUE(iterateUntil([&] { return shownReport.invalidated > 0; }));
    EXPECT_EQ(emblemsOfPath(report), Emblems{});
    EXPECT_EQ(nsLogLinesWith("Scrivlet FinderSync: Failed to open DB: "), 1u)
        << "a store that could not be opened is not tried again";
}

TEST_F(NautilusModuleTest, AStoreTheAppMakesAfterTheFileManagerStartedIsUsedFromItsFirstChange) {
    const std::string report = file("report.txt");
    EXPECT_EQ(emblemsOfPath(report), Emblems{}) << "no store yet";
    ShownFile& shownReport = shown(report);

    save(report, Annotation::Status::flagged);
    BadgeRefreshNotifier::notifyChange(report);
    ASSERT_TRUE(iterateUntil([&] { return shownReport.invalidated > 0; }));
    EXPECT_EQ(emblemsOfPath(report), Emblems{"scrivlet-flagged"});
    EXPECT_EQ(menuForPaths({report})->labels,
              (std::vector<std::string>{"Edit Annotation\u2026", "Remove Annotation"}));

    // Later changes reach the extension that started again.
    save(report, Annotation::Status::reviewed);
    BadgeRefreshNotifier::notifyChange(report);
    ASSERT_TRUE(iterateUntil([&] { return shownReport.invalidated > 1; }));
    EXPECT_EQ(emblemsOfPath(report), Emblems{"scrivlet-annotated"});
}

} // namespace

} // namespace scrivlet
