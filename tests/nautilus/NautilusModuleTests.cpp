// The extension's module for the GTK file manager, loaded as the file manager loads it: opened
// with dlopen, initialised through a type module of the test's own and its provider made from
// the type it lists; asked with file objects that play the file manager's, in a temporary home
// with a store that plays the app's part and a URL receiver that plays the running app. No
// display: the file manager's side is GLib's default main context, which the test iterates.
#include "Platform/desktop/SessionFileManager.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeRefreshNotifier.h"
#include "tests/support/AppStoreHome.h"
#include "tests/support/LogCapture.h"
#include "tests/support/NautilusFileManagerSide.h"
#include "tests/support/ReceivingApp.h"
#include "tests/support/TempHome.h"

#include <chrono>
#include <fstream>
#include <glib.h>
#include <gtest/gtest.h>

namespace scrivlet {

namespace {

using namespace std::chrono_literals;
using nautilus::iterateUntil;
using nautilus::LoadedModule;
using nautilus::ShownFile;

// ---- The tests ---------------------------------------------------------------------------

// The home is a base: it outlives the members that use it.
class NautilusModuleTest : public ::testing::Test, public AppStoreHome {
protected:
    // The module's host starts afresh for every test, in its home, as the file manager starts.
    void SetUp() override {
        nautilus::forgetLoadedFiles();
        module_.start();
    }
    void TearDown() override {
        module_.stop();
        nautilus::forgetLoadedFiles();
    }

    static std::string uriOf(const std::string& path) {
        char* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
        std::string text(uri);
        g_free(uri);
        return text;
    }
    static std::vector<std::string> urisOf(const std::vector<std::string>& paths) {
        std::vector<std::string> uris;
        for (const std::string& path : paths) {
            uris.push_back(uriOf(path));
        }
        return uris;
    }
    // The file as a loaded folder shows it.
    static ShownFile& shown(const std::string& path) { return nautilus::loadedFile(uriOf(path)); }

    std::vector<std::string> emblemsOfPath(const std::string& path) {
        return module_.emblemsOf(uriOf(path));
    }
    std::vector<std::string> menuFor(const std::vector<std::string>& paths) {
        return module_.menuLabels(urisOf(paths));
    }

    static void iterateAWhile() {
        iterateUntil([] { return false; }, 100ms);
    }

    LogCapture log_;
    LoadedModule& module_ = LoadedModule::open(SCRIVLET_NAUTILUS_MODULE);
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
    EXPECT_EQ(module_.emblemsOf("sftp://server" + reviewed), Emblems{});

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

    EXPECT_EQ(menuFor({plain}), std::vector<std::string>{"Annotate This File\u2026"});
    ASSERT_EQ(menuFor({third, report, plain}), std::vector<std::string>{"Annotate 3 Files\u2026"});
    ASSERT_EQ(menuFor({report}),
              (std::vector<std::string>{"Edit Annotation\u2026", "Remove Annotation"}));
    EXPECT_TRUE(module_.menuLabels({uriOf(plain), "sftp://server/a.txt"}).empty())
        << "the extension speaks of files on this machine only";

    // The module's commands leave from the file manager's loop.
    const auto iterate = [] { g_main_context_iteration(nullptr, FALSE); };
    module_.activateMenuItem(urisOf({third, report, plain}), 0);
    EXPECT_EQ(
        app.waitForURLs(3, iterate),
        (std::vector<std::string>{"annotate " + third, "annotate " + report, "annotate " + plain}))
        << "one URL per file, in the file manager's order, each path intact";
    module_.activateMenuItem(urisOf({report}), 1);
    const auto all = app.waitForURLs(4, iterate);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[3], "remove " + report);
}

TEST_F(NautilusModuleTest, EachChangeOfSelectionTellsTheAppTheOneSelectedFileOrNone) {
    const std::string report = file("report.txt");
    const std::string other = file("other.txt");
    const auto told = [] {
        std::ifstream in(extensionSelectionFile());
        std::string line;
        return std::getline(in, line) ? std::optional(line) : std::nullopt;
    };
    menuFor({report});
    EXPECT_EQ(told(), report);
    menuFor({report, other});
    EXPECT_EQ(told(), "");
    menuFor({other});
    EXPECT_EQ(told(), other);
    module_.menuLabels({"sftp://server/a.txt"});
    EXPECT_EQ(told(), "");
    const std::string broken = file("two\nlines.txt");
    menuFor({broken});
    EXPECT_EQ(told(), "") << "a path a line cannot hold is no selection";
    menuFor({other});
    module_.menuLabels({});
    EXPECT_EQ(told(), "") << "nothing selected";
}

TEST_F(NautilusModuleTest, AStoreThatCannotBeOpenedGivesNoEmblemsAndTheOneItemMenu) {
    // Reloaded over a store damaged beyond reading.
    const std::string report = annotated("report.txt", Annotation::Status::flagged);
    closeAppStore();
    std::ofstream(AnnotationStore::defaultPath(), std::ios::binary | std::ios::trunc)
        << std::string(8192, 'x');
    TearDown();
    log_.clear();
    SetUp();

    EXPECT_EQ(emblemsOfPath(report), Emblems{});
    EXPECT_EQ(menuFor({report}), std::vector<std::string>{"Annotate This File\u2026"});
    ShownFile& shownReport = shown(report);
    BadgeRefreshNotifier::notifyChange(report);
    ASSERT_TRUE(iterateUntil([&] { return shownReport.invalidated > 0; }));
    EXPECT_EQ(emblemsOfPath(report), Emblems{});
    EXPECT_EQ(log_.nsLogLinesWith("Scrivlet FinderSync: Failed to open DB: "), 1u)
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
    EXPECT_EQ(menuFor({report}),
              (std::vector<std::string>{"Edit Annotation\u2026", "Remove Annotation"}));

    // Later changes reach the extension that started again.
    save(report, Annotation::Status::reviewed);
    BadgeRefreshNotifier::notifyChange(report);
    ASSERT_TRUE(iterateUntil([&] { return shownReport.invalidated > 1; }));
    EXPECT_EQ(emblemsOfPath(report), Emblems{"scrivlet-annotated"});
}

} // namespace

} // namespace scrivlet
