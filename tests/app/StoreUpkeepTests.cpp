#include "Platform/system/ExtendedAttributes.h"
#include "Platform/system/FileBookmark.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeXattr.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/CanonicalEquivalence.h"
#include "tests/support/AppSession.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RawSqlite.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

const std::string arrow = " \u2192 ";

// Records written by an earlier run of the app, files moved while it was not running, then
// a launch.
class StoreUpkeep : public ::testing::Test {
protected:
    AppSession session;
    std::shared_ptr<AnnotationStore> store =
        std::make_shared<AnnotationStore>(AnnotationStore::defaultPath());

    fs::path file(const std::string& relative) { return session.home().makeFile(relative, "x"); }

    Annotation seed(const fs::path& path, Annotation::Status status = Annotation::Status::none,
                    bool withBookmark = true) {
        Annotation record = Annotation::forFile(path.string(), Date(std::chrono::hours(1)));
        record.status = status;
        if (withBookmark) {
            std::error_code error;
            record.bookmarkData = FileBookmark::create(path, error);
        }
        store->save(record);
        return record;
    }

    // Xattrs travel with a renamed file; taking the badge off shows the sync writes it.
    static void move(const fs::path& from, const fs::path& to) {
        fs::create_directories(to.parent_path());
        fs::rename(from, to);
        ExtendedAttributes::remove(to, BadgeXattr::attributeName);
    }

    std::vector<std::string> upkeepLines() {
        std::vector<std::string> lines;
        for (const std::string& line : session.log().messages("app")) {
            if (line.starts_with("Resolved") || line.starts_with("Stale/broken") ||
                line.starts_with("Refreshed") || line.starts_with("Synced") ||
                line.starts_with("Failed")) {
                lines.push_back(line);
            }
        }
        return lines;
    }
};

TEST_F(StoreUpkeep, MovedAndRenamedFilesAreReKeyedRefreshedAndBadged) {
    const fs::path old = file("a/old.txt"), travels = file("a/travels.txt");
    const fs::path still = file("b/still.txt"), unbookmarked = file("b/plain.txt");
    const Annotation renamed = seed(old, Annotation::Status::flagged);
    seed(travels, Annotation::Status::needsWork);
    const Annotation unchanged = seed(still);
    seed(unbookmarked, Annotation::Status::none, false);
    move(old, session.home().path() / "a/new.txt");
    move(travels, session.home().path() / "b/travels.txt");
    const fs::path renamedTo = session.home().path() / "a/new.txt";
    const fs::path movedTo = session.home().path() / "b/travels.txt";

    session.launch();
    EXPECT_EQ(
        upkeepLines(),
        (std::vector<std::string>{
            "Resolved moved file: " + old.string() + arrow + renamedTo.string(),
            "Refreshed stale bookmark for new.txt",
            "Resolved moved file: " + travels.string() + arrow + movedTo.string(),
            "Refreshed stale bookmark for travels.txt", "Synced badge xattrs for 4 annotations"}));

    const auto rekeyed = store->fetch(renamedTo.string());
    ASSERT_TRUE(rekeyed);
    EXPECT_EQ(rekeyed->id, renamed.id);
    EXPECT_EQ(rekeyed->fileName, "new.txt");
    EXPECT_NE(rekeyed->bookmarkData, renamed.bookmarkData);
    EXPECT_FALSE(store->hasAnnotation(old.string()));
    EXPECT_TRUE(store->hasAnnotation(movedTo.string()));
    EXPECT_EQ(store->fetch(still.string()), unchanged) << "an unmoved record is not written";
    EXPECT_FALSE(store->fetch(unbookmarked.string())->bookmarkData);

    EXPECT_EQ(BadgeXattr::badgeValue(renamedTo), "flagged");
    EXPECT_EQ(BadgeXattr::badgeValue(movedTo), "annotated") << "needs-work is not flagged";
    EXPECT_EQ(BadgeXattr::badgeValue(unbookmarked), "annotated");
}

// A file still in its place whose bookmark lacks what its file system now records (the birth
// time that tells a recycled inode apart): the record keeps its key and everything else, and
// only its bookmark is renewed, once.
TEST_F(StoreUpkeep, AStaleBookmarkOfAFileThatStayedIsRenewedInPlace) {
    const fs::path stayed = file("c/stayed.txt");
    Annotation record = seed(stayed, Annotation::Status::approved);
    PlatformError error;
    FileBookmark::Contents contents = *FileBookmark::decode(*record.bookmarkData, error);
    ASSERT_TRUE(contents.identity.hasBirthTime) << "the test needs a file system with birth times";
    contents.identity.hasBirthTime = false;
    record.bookmarkData = FileBookmark::encode(contents);
    record.note = "kept";
    store->save(record);

    session.launch();
    EXPECT_EQ(upkeepLines(), (std::vector<std::string>{"Refreshed stale bookmark for stayed.txt",
                                                       "Synced badge xattrs for 1 annotations"}));
    const auto renewed = store->fetch(stayed.string());
    ASSERT_TRUE(renewed);
    ASSERT_TRUE(renewed->bookmarkData);
    const auto fresh = FileBookmark::decode(*renewed->bookmarkData, error);
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(fresh->identity.hasBirthTime);
    EXPECT_EQ(fresh->path, stayed.string());
    Annotation expected = record;
    expected.bookmarkData = renewed->bookmarkData;
    EXPECT_EQ(*renewed, expected) << "nothing but the bookmark changes";
    EXPECT_EQ(store->fetchAll().size(), 1u);
}

TEST_F(StoreUpkeep, GoneFilesAndBrokenBookmarksAreReportedKeptAndCounted) {
    const fs::path gone = file("a/gone.txt"), kept = file("a/kept.txt");
    seed(gone);
    Annotation damaged = seed(kept);
    damaged.bookmarkData->resize(10);
    store->save(damaged);
    fs::remove(gone);

    session.launch();
    const auto lines = upkeepLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Stale/broken bookmark for " + gone.string() +
                            ": The file no longer exists where it was, and it was not found in "
                            "its folder, the other bookmarked folders or the home folder.");
    EXPECT_TRUE(lines[1].starts_with("Stale/broken bookmark for " + kept.string() +
                                     ": The bookmark is damaged"))
        << lines[1];
    EXPECT_EQ(lines[2], "Synced badge xattrs for 2 annotations") << "the missing file counts";
    EXPECT_TRUE(store->hasAnnotation(gone.string()));
    EXPECT_EQ(BadgeXattr::badgeValue(kept), "annotated");
}

TEST_F(StoreUpkeep, AReKeyTheStoreRefusesLeavesTheStaleBookmarkForLater) {
    const fs::path mine = file("a/mine.txt");
    const Annotation moved = seed(mine);
    const fs::path destination = session.home().path() / "b/mine.txt";
    seed(file("b/mine.txt"));
    fs::remove(destination);
    move(mine, destination);

    session.launch();
    const auto lines = upkeepLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Stale/broken bookmark for " + mine.string() +
                            ": The annotation cannot be moved: the new path already has an "
                            "annotation.");
    // The other record's file was replaced by this one: not its file.
    EXPECT_TRUE(lines[1].starts_with("Stale/broken bookmark for " + destination.string() +
                                     ": Another file has taken the file's place"))
        << lines[1];
    EXPECT_EQ(store->fetch(mine.string()), moved) << "not re-keyed, bookmark not refreshed";
}

TEST_F(StoreUpkeep, ADifferenceInUnicodeNormalizationOnlyIsNoMove) {
    const std::string composed = "Caf\xC3\xA9.txt", decomposed = "Cafe\xCC\x81.txt";
    EXPECT_TRUE(isCanonicallyEquivalent(composed, decomposed));
    EXPECT_FALSE(isCanonicallyEquivalent("Cafe.txt", composed));
    EXPECT_FALSE(isCanonicallyEquivalent("bad\xFF", "bad\xFE"));

    // The file's name is decomposed on disk, the record is keyed by the composed name.
    const fs::path onDisk = file("a/" + decomposed);
    Annotation record = Annotation::forFile((session.home().path() / "a" / composed).string(),
                                            Date(std::chrono::hours(1)));
    std::error_code error;
    record.bookmarkData = FileBookmark::create(onDisk, error);
    store->save(record);

    session.launch();
    EXPECT_EQ(upkeepLines(), std::vector<std::string>{"Synced badge xattrs for 1 annotations"});
    EXPECT_EQ(store->fetch(record.path), record);
}

TEST_F(StoreUpkeep, ADamagedRecordAmongGoodOnesStopsNeitherStep) {
    const fs::path first = file("a/first.txt"), second = file("a/second.txt");
    seed(first);
    seed(file("a/broken.txt"));
    seed(second, Annotation::Status::flagged);
    move(second, session.home().path() / "a/renamed.txt");
    runSql(store->path(), "UPDATE annotations SET tags = '[oops' WHERE file_name = 'broken.txt'");

    session.launch();
    const auto lines = upkeepLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].starts_with("Resolved moved file: " + second.string())) << lines[0];
    EXPECT_EQ(lines[2], "Synced badge xattrs for 2 annotations");
    EXPECT_EQ(BadgeXattr::badgeValue(session.home().path() / "a/renamed.txt"), "flagged");
    const auto skipped = session.log().messages("store");
    EXPECT_EQ(std::count_if(skipped.begin(), skipped.end(),
                            [](const std::string& line) {
                                return line.starts_with("Skipped the damaged annotation");
                            }),
              2)
        << "each step read past it";
}

TEST_F(StoreUpkeep, AnUnreadableStoreEndsEachStepWithItsFailureLine) {
    seed(file("a/one.txt"));
    session.launch();
    session.log().clear();
    runSql(store->path(), "DROP TABLE annotations");
    session.delegate()->resolveBookmarks();
    session.delegate()->syncBadgeXattrs();
    const auto lines = upkeepLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].starts_with("Failed to fetch annotations for bookmark resolution: "));
    EXPECT_TRUE(lines[1].starts_with("Failed to sync badge xattrs: ")) << "and no summary line";
}

} // namespace
