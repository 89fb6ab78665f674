#include "Platform/system/FileBookmark.h"
#include "Platform/system/FileBookmarkResolver.h"
#include "Platform/system/PathLookup.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bookmarkOf(const fs::path& file) {
    std::error_code error;
    auto data = FileBookmark::create(file, error);
    EXPECT_TRUE(data) << error.message();
    return data.value_or(Bytes{});
}

FileBookmark::Contents contentsOf(const Bytes& data) {
    PlatformError error;
    auto contents = FileBookmark::decode(data, error);
    EXPECT_TRUE(contents) << error.localizedDescription;
    return contents.value_or(FileBookmark::Contents{});
}

TEST(FileBookmark, RecordsThePathAndTheFilesIdentity) {
    TempHome home;
    const fs::path file = home.makeFile("docs/report.txt", "hello");
    const Bytes data = bookmarkOf(file);
    const FileBookmark::Contents contents = contentsOf(data);
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(contents.path, file.string());
    EXPECT_EQ(contents.identity.inode, info.st_ino);
    EXPECT_EQ(FileBookmark::encode(contents), data);

    std::error_code error;
    EXPECT_FALSE(FileBookmark::create(home.path() / "missing", error));
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
}

TEST(FileBookmark, DamagedOrForeignDataIsAnErrorWithAReason) {
    TempHome home;
    const Bytes good = bookmarkOf(home.makeFile("a.txt"));
    PlatformError error;
    // Every shortened copy is refused, never read past its end.
    for (std::size_t length = 0; length < good.size(); ++length) {
        EXPECT_FALSE(FileBookmark::decode(std::span(good.data(), length), error)) << length;
        EXPECT_TRUE(error.localizedDescription.starts_with("The bookmark is damaged"));
    }
    Bytes longer = good;
    longer.push_back('x');
    EXPECT_FALSE(FileBookmark::decode(longer, error));

    Bytes otherVersion = good;
    otherVersion[4] = 2;
    EXPECT_FALSE(FileBookmark::decode(otherVersion, error));
    EXPECT_EQ(error.localizedDescription,
              "The bookmark was made in format 2; this version of Scrivlet reads format 1.");

    FileBookmark::Contents relative = contentsOf(good);
    relative.path = "a.txt";
    EXPECT_FALSE(FileBookmark::decode(FileBookmark::encode(relative), error));

    std::mt19937 random(12);
    for (int i = 0; i < 2000; ++i) {
        Bytes noise = good;
        noise[random() % noise.size()] = static_cast<std::uint8_t>(random());
        noise.resize(random() % (good.size() + 8));
        FileBookmark::decode(noise, error); // must not crash; either answer is fine
    }
}

// Answers must be those of stat on the whole path, whatever the order of the paths.
TEST(PathLookup, AnswersAsAStatOfTheWholePathWould) {
    TempHome home;
    const fs::path a = home.makeFile("a/one.txt"), b = home.makeFile("b/one.txt");
    fs::create_symlink(a, home.path() / "b/link.txt");
    fs::create_symlink(home.path() / "a/gone.txt", home.path() / "b/dangling.txt");
    PathLookup lookup;
    EXPECT_TRUE(lookup.exists(a.string()));
    EXPECT_FALSE(lookup.exists((home.path() / "a/two.txt").string()));
    EXPECT_TRUE(lookup.exists(b.string())) << "another folder";
    EXPECT_TRUE(lookup.exists((home.path() / "b/link.txt").string()));
    EXPECT_FALSE(lookup.exists((home.path() / "b/dangling.txt").string()));
    EXPECT_FALSE(lookup.exists((home.path() / "missing/one.txt").string()));
    EXPECT_TRUE(lookup.exists(a.string())) << "back to the first folder";
    EXPECT_TRUE(lookup.exists("/"));
    EXPECT_TRUE(lookup.exists("/proc"));

    std::error_code error;
    const auto identity = lookup.identity((home.path() / "b/link.txt").string(), error);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity, identityOf(a, true, error)) << "links are followed";
    EXPECT_FALSE(lookup.identity((home.path() / "missing/x").string(), error));
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
}

// A batch of files in a temporary home, bookmarked, then resolved after the test moves them.
class ResolveBookmarks : public ::testing::Test {
protected:
    TempHome home;
    std::vector<Bytes> bookmarks;

    std::size_t bookmark(const fs::path& file) {
        bookmarks.push_back(bookmarkOf(file));
        return bookmarks.size() - 1;
    }

    FileBookmarkResolver resolver(FileSearch::WalkLimits limits = {}) {
        std::vector<std::span<const std::uint8_t>> all(bookmarks.begin(), bookmarks.end());
        return FileBookmarkResolver(all, home.path(), limits);
    }
};

TEST_F(ResolveBookmarks, AFileStillInPlaceKeepsItsPathAndIsNotStale) {
    const fs::path file = home.makeFile("a/old.txt");
    const auto id = bookmark(file);
    auto batch = resolver();
    PlatformError error;
    const auto resolved = batch.resolve(bookmarks[id], error);
    ASSERT_TRUE(resolved) << error.localizedDescription;
    EXPECT_EQ(resolved->path, file);
    EXPECT_FALSE(resolved->isStale);
    EXPECT_EQ(batch.searchRootWalks(), 0);
}

TEST_F(ResolveBookmarks, RenamedAndMovedFilesAreFoundWithoutWalkingTheHome) {
    const fs::path renamed = home.makeFile("a/old.txt");
    const fs::path moved = home.makeFile("a/travels.txt");
    home.makeFile("b/resident.txt");
    const auto renamedID = bookmark(renamed);
    const auto movedID = bookmark(moved);
    bookmark(home.path() / "b/resident.txt");
    fs::rename(renamed, home.path() / "a/new.txt");
    fs::rename(moved, home.path() / "b/travels.txt");

    auto batch = resolver();
    PlatformError error;
    const auto first = batch.resolve(bookmarks[renamedID], error);
    ASSERT_TRUE(first) << error.localizedDescription;
    EXPECT_EQ(first->path, home.path() / "a/new.txt");
    EXPECT_TRUE(first->isStale);
    const auto second = batch.resolve(bookmarks[movedID], error);
    ASSERT_TRUE(second) << error.localizedDescription;
    EXPECT_EQ(second->path, home.path() / "b/travels.txt");
    EXPECT_TRUE(second->isStale);
    EXPECT_EQ(batch.searchRootWalks(), 0) << "both were in folders the batch names";
}

TEST_F(ResolveBookmarks, FilesMovedFarAwayAreFoundByOneWalk) {
    std::vector<std::size_t> ids;
    for (int i = 0; i < 3; ++i) {
        const fs::path file = home.makeFile("inbox/file" + std::to_string(i));
        ids.push_back(bookmark(file));
        fs::create_directories(home.path() / "archive" / std::to_string(i));
        fs::rename(file, home.path() / "archive" / std::to_string(i) / "kept");
    }
    auto batch = resolver();
    for (int i = 0; i < 3; ++i) {
        PlatformError error;
        const auto resolved = batch.resolve(bookmarks[ids[static_cast<std::size_t>(i)]], error);
        ASSERT_TRUE(resolved) << error.localizedDescription;
        EXPECT_EQ(resolved->path, home.path() / "archive" / std::to_string(i) / "kept");
    }
    EXPECT_EQ(batch.searchRootWalks(), 1);
}

TEST_F(ResolveBookmarks, ADeletedFileIsAnErrorAndSoIsAReplacedOne) {
    const fs::path gone = home.makeFile("a/gone.txt");
    const fs::path replaced = home.makeFile("a/replaced.txt", "original");
    const auto goneID = bookmark(gone);
    const auto replacedID = bookmark(replaced);
    fs::remove(gone);
    // Written elsewhere and renamed over the original, as editors save: a new file.
    home.makeFile("a/.replaced.tmp", "newcomer");
    fs::rename(home.path() / "a/.replaced.tmp", replaced);

    auto batch = resolver();
    PlatformError error;
    EXPECT_FALSE(batch.resolve(bookmarks[goneID], error));
    EXPECT_EQ(error.code, std::errc::no_such_file_or_directory);
    EXPECT_TRUE(error.localizedDescription.starts_with("The file no longer exists where it was"))
        << error.localizedDescription;
    EXPECT_FALSE(batch.resolve(bookmarks[replacedID], error));
    EXPECT_TRUE(error.localizedDescription.starts_with("Another file has taken the file's place"))
        << error.localizedDescription;
    EXPECT_EQ(batch.searchRootWalks(), 1) << "the second search reused the first walk";
}

TEST_F(ResolveBookmarks, ARecycledInodeIsNotTakenForTheFile) {
    const fs::path file = home.makeFile("a/report.txt");
    FileBookmark::Contents contents = contentsOf(bookmarkOf(file));
    ASSERT_TRUE(contents.identity.hasBirthTime) << "the test needs a file system with birth times";
    contents.identity.birthTimeSeconds -= 3600; // the inode's earlier life
    bookmarks.push_back(FileBookmark::encode(contents));
    auto batch = resolver();
    PlatformError error;
    EXPECT_FALSE(batch.resolve(bookmarks.back(), error));
}

// Without a birth time only device and inode are compared; a file found elsewhere must then
// have kept its name or its folder before it is believed.
TEST_F(ResolveBookmarks, WithoutABirthTimeAFoundFileMustKeepItsNameOrFolder) {
    auto withoutBirthTime = [&](const fs::path& file) {
        FileBookmark::Contents contents = contentsOf(bookmarkOf(file));
        contents.identity.hasBirthTime = false;
        bookmarks.push_back(FileBookmark::encode(contents));
        return bookmarks.size() - 1;
    };
    const fs::path inPlace = home.makeFile("a/in-place.txt");
    const fs::path renamed = home.makeFile("a/renamed.txt");
    const fs::path both = home.makeFile("a/both.txt");
    const auto inPlaceID = withoutBirthTime(inPlace);
    const auto renamedID = withoutBirthTime(renamed);
    const auto bothID = withoutBirthTime(both);
    fs::rename(renamed, home.path() / "a/new-name.txt");
    fs::create_directories(home.path() / "b");
    fs::rename(both, home.path() / "b/other-name.txt");

    auto batch = resolver();
    PlatformError error;
    const auto kept = batch.resolve(bookmarks[inPlaceID], error);
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->isStale) << "refreshed, so that it records the birth time from now on";
    const auto found = batch.resolve(bookmarks[renamedID], error);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, home.path() / "a/new-name.txt");
    EXPECT_FALSE(batch.resolve(bookmarks[bothID], error));
}

TEST_F(ResolveBookmarks, TheWalkFollowsNoLinksAndKeepsToItsBudget) {
    const fs::path outside = home.makeFile("a/outside.txt");
    const auto id = bookmark(outside);
    // Moved out of the home, reachable from inside only through a symbolic link.
    TempHome elsewhere;
    fs::rename(outside, elsewhere.path() / "outside.txt");
    fs::create_directory_symlink(elsewhere.path(), home.path() / "link-to-elsewhere");
    fs::create_directory_symlink(home.path(), home.path() / "a/loop");

    PlatformError error;
    auto batch = resolver();
    EXPECT_FALSE(batch.resolve(bookmarks[id], error));

    // A file that is there to be found is missed when the budget runs out first.
    const fs::path deep = home.makeFile("z/deep.txt");
    const auto deepID = bookmark(deep);
    fs::create_directories(home.path() / "y/z");
    fs::rename(deep, home.path() / "y/z/deep.txt");
    // Two entries cannot reach y/z/deep.txt, which lies three entries down.
    auto small = resolver({.maxEntries = 2, .maxDuration = std::chrono::seconds(10)});
    EXPECT_FALSE(small.resolve(bookmarks[deepID], error));
    EXPECT_NE(error.localizedDescription.find("stopped after 2 entries"), std::string::npos)
        << error.localizedDescription;
    auto ample = resolver();
    EXPECT_TRUE(ample.resolve(bookmarks[deepID], error)) << error.localizedDescription;
}

} // namespace
