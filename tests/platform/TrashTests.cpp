#include "Platform/system/FileManager.h"
#include "tests/support/TempHome.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <string>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

// Two items of the same name from different folders (and a third whose name is taken by a
// file some other program left without its info file): each keeps its contents under a name
// of its own, and each info file names the place that item came from, so it can be restored.
TEST(FileManagerTrash, ItemsWithTheSameNameAreAllKeptEachWithItsOwnInfo) {
    TempHome home;
    const fs::path first = home.makeFile("Documents/a report.txt", "first");
    const fs::path second = home.makeFile("Downloads/a report.txt", "second");
    const fs::path third = home.makeFile("Desktop/a report.txt", "third");
    const fs::path trash = home.path() / ".local/share/Trash";
    const FileManager fileManager;

    ASSERT_FALSE(fileManager.trashItem(first));
    ASSERT_FALSE(fileManager.trashItem(second));
    home.makeFile(".local/share/Trash/files/a report.txt.3", "orphan");
    ASSERT_FALSE(fileManager.trashItem(third));

    struct Kept {
        std::string name;
        fs::path from;
        std::string contents;
    };
    const Kept kept[] = {{"a report.txt", first, "first"},
                         {"a report.txt.2", second, "second"},
                         {"a report.txt.4", third, "third"}};
    const std::regex date(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\n)");
    for (const Kept& item : kept) {
        SCOPED_TRACE(item.name);
        EXPECT_FALSE(fs::exists(item.from));
        EXPECT_EQ(readWholeFile(trash / "files" / item.name), item.contents);
        const std::string info = readWholeFile(trash / "info" / (item.name + ".trashinfo"));
        std::string encoded = item.from.string();
        encoded.replace(encoded.find(' '), 1, "%20");
        const std::string head = "[Trash Info]\nPath=" + encoded + "\nDeletionDate=";
        ASSERT_TRUE(info.starts_with(head)) << info;
        EXPECT_TRUE(std::regex_match(info.substr(head.size()), date)) << info;
    }
    EXPECT_EQ(readWholeFile(trash / "files/a report.txt.3"), "orphan");
    EXPECT_FALSE(fs::exists(trash / "info/a report.txt.3.trashinfo"));
}

} // namespace
