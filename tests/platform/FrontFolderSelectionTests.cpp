// The published selection of a file manager whose windows share one process: believed only
// for the window in front, so that switching windows never shows the other window's file.
#include "Platform/backends/x11/FrontFolderSelection.h"

#include <gtest/gtest.h>

using namespace scrivlet;
using namespace scrivlet::x11;

namespace {

// What the extension last published, and a way to publish as it does.
struct Published final : FileManagerSelection {
    std::optional<std::string>* path;
    ChangeHandler* publish;
    Published(std::optional<std::string>* p, ChangeHandler* h) : path(p), publish(h) {}
    bool isAvailable() const override { return true; }
    void follow(pid_t, ChangeHandler onChange) override { *publish = std::move(onChange); }
    void stopFollowing() override { *publish = nullptr; }
    std::optional<std::string> singleSelectedPath() override { return *path; }
};

const std::string windowA = "/org/gnome/Nautilus/window/1";
const std::string windowB = "/org/gnome/Nautilus/window/2";

struct FrontFolderSelectionTest : testing::Test {
    std::optional<std::string> published;
    FileManagerSelection::ChangeHandler publishHandler;
    FrontFolderSelection selection{std::make_unique<Published>(&published, &publishHandler)};
    int changes = 0;

    void SetUp() override {
        selection.follow(1, [this] { ++changes; });
        selection.setWindowFolders({{windowA, "/home/u/Documents"}, {windowB, "/home/u/Music"}});
    }
    void publish(const std::string& path) {
        published = path;
        publishHandler();
    }
};

} // namespace

TEST_F(FrontFolderSelectionTest, AnswersOnlyForAFileInTheFrontWindowsFolder) {
    selection.fileManagerWindowInFront(windowA);
    publish("/home/u/Documents/report.txt");
    EXPECT_EQ(selection.singleSelectedPath(), "/home/u/Documents/report.txt");
    // A folder selected is published with its trailing slash.
    publish("/home/u/Documents/Old/");
    EXPECT_EQ(selection.singleSelectedPath(), "/home/u/Documents/Old/");
    // Deeper, or in a folder that only starts with the same name: not this window's file.
    publish("/home/u/Documents/Old/a.txt");
    EXPECT_EQ(selection.singleSelectedPath(), std::nullopt);
    publish("/home/u/Documents2/a.txt");
    EXPECT_EQ(selection.singleSelectedPath(), std::nullopt);
}

TEST_F(FrontFolderSelectionTest, SwitchingWindowsWithdrawsTheAnswerUntilTheNextSelection) {
    selection.fileManagerWindowInFront(windowA);
    publish("/home/u/Documents/report.txt");
    const int before = changes;
    selection.fileManagerWindowInFront(windowB);
    EXPECT_GT(changes, before) << "the app must ask again";
    EXPECT_EQ(selection.singleSelectedPath(), std::nullopt);
    // Even when both windows show the same folder.
    selection.setWindowFolders({{windowA, "/home/u/Documents"}, {windowB, "/home/u/Documents"}});
    EXPECT_EQ(selection.singleSelectedPath(), std::nullopt);
    publish("/home/u/Documents/notes.txt");
    EXPECT_EQ(selection.singleSelectedPath(), "/home/u/Documents/notes.txt");
    // Back to the first window: withdrawn again, though the file lies in its folder.
    selection.fileManagerWindowInFront(windowA);
    EXPECT_EQ(selection.singleSelectedPath(), std::nullopt);
}

TEST_F(FrontFolderSelectionTest, TheSameWindowAgainOrAnUnknownOneNeverShowsAWrongFile) {
    selection.fileManagerWindowInFront(windowA);
    publish("/home/u/Documents/report.txt");
    // Told again (the panel had the focus in between): the answer stands.
    selection.fileManagerWindowInFront(windowA);
    EXPECT_EQ(selection.singleSelectedPath(), "/home/u/Documents/report.txt");
    // The window went elsewhere without a new selection.
    const int before = changes;
    selection.setWindowFolders({{windowA, "/home/u/Music"}});
    EXPECT_GT(changes, before);
    EXPECT_EQ(selection.singleSelectedPath(), std::nullopt);
    // A window the list does not name (several tabs, a remote folder, not listed yet).
    selection.fileManagerWindowInFront("/org/gnome/Nautilus/window/3");
    publish("/home/u/Music/song.ogg");
    EXPECT_EQ(selection.singleSelectedPath(), std::nullopt);
}

TEST(FolderOfLocationTest, TakesLocalFoldersDecodedAndNothingElse) {
    EXPECT_EQ(folderOfLocation("file:///home/u/My%20Files/"), "/home/u/My Files");
    EXPECT_EQ(folderOfLocation("file:///"), "/");
    EXPECT_EQ(folderOfLocation("sftp://host/home/u"), std::nullopt);
    EXPECT_EQ(folderOfLocation("trash:///"), std::nullopt);
    EXPECT_EQ(folderOfLocation("not a uri"), std::nullopt);
}
