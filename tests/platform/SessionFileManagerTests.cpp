// The file manager a session uses: the one a user names, else the desktop's, whatever other
// file managers are installed beside it.
#include "Platform/desktop/SessionFileManager.h"

#include <gtest/gtest.h>

namespace scrivlet {

namespace {

using enum FileManagerProgram;

TEST(SessionFileManagerTest, ANamedOneWinsElseTheDesktopsOwn) {
    EXPECT_EQ(sessionFileManagerFor("Nautilus", "KDE"), nautilus);
    EXPECT_EQ(sessionFileManagerFor("dolphin", "ubuntu:GNOME"), dolphin);
    // A name nobody knows is no choice.
    EXPECT_EQ(sessionFileManagerFor("thunar", "KDE"), dolphin);
    EXPECT_EQ(sessionFileManagerFor("", "GNOME"), nautilus);

    EXPECT_EQ(sessionFileManagerFor(std::nullopt, "ubuntu:GNOME"), nautilus);
    EXPECT_EQ(sessionFileManagerFor(std::nullopt, "GNOME-Flashback:GNOME"), nautilus);
    EXPECT_EQ(sessionFileManagerFor(std::nullopt, "gnome"), nautilus);
    EXPECT_EQ(sessionFileManagerFor(std::nullopt, "GNOME-Classic"), dolphin)
        << "a desktop is matched whole, not by its start";
    EXPECT_EQ(sessionFileManagerFor(std::nullopt, "KDE"), dolphin);
    EXPECT_EQ(sessionFileManagerFor(std::nullopt, ""), dolphin);
}

TEST(SessionFileManagerTest, TheCommandStartsTheChosenProgramWithTheItemsSelected) {
    const std::vector<std::string> uris{"file:///home/u/a%20b.txt", "file:///home/u/c.txt"};
    EXPECT_EQ(showItemsCommand(nautilus, uris),
              (std::vector<std::string>{"nautilus", "--new-window", "--select", uris[0], uris[1]}));
    EXPECT_EQ(showItemsCommand(dolphin, uris),
              (std::vector<std::string>{"dolphin", "--new-window", "--select", uris[0], uris[1]}));
}

} // namespace

} // namespace scrivlet
