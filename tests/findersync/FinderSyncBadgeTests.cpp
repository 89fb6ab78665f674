#include "Platform/desktop/Graphics.h"
#include "Scrivcore/BadgeRefreshNotifier.h"
#include "tests/findersync/ExtensionFixture.h"
#include "tests/support/RawSqlite.h"

namespace scrivlet {

namespace {

using Kind = DrawingOperation::Kind;

TEST_F(ExtensionTest, StartUpWatchesTheWholeDiskRegistersBothBadgesOpensTheStoreAndSaysSo) {
    appStore();
    startExtension();
    ASSERT_EQ(controller().directoryURLs().size(), 1u);
    EXPECT_EQ(controller().directoryURLs()[0].absoluteString(), "file:///");
    ASSERT_EQ(controller().badgeImages().size(), 2u);
    EXPECT_EQ(controller().badgeImages()[0].identifier, "annotated");
    EXPECT_EQ(controller().badgeImages()[0].label, "Annotated");
    EXPECT_EQ(controller().badgeImages()[1].identifier, "flagged");
    EXPECT_EQ(controller().badgeImages()[1].label, "Flagged");
    ASSERT_NE(extension->store, nullptr);
    EXPECT_EQ(nsLogLines(), (std::vector<std::string>{"Scrivlet FinderSync: DB opened at " +
                                                          AnnotationStore::defaultPath(),
                                                      "Scrivlet FinderSync: initialized"}));
}

TEST_F(ExtensionTest, AStoreThatCannotBeOpenedIsLoggedAndStartUpGoesOn) {
    startExtension(); // the app never ran: there is no store file
    EXPECT_EQ(extension->store, nullptr);
    const auto lines = nsLogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].starts_with("Scrivlet FinderSync: Failed to open DB: "));
    EXPECT_EQ(lines[1], "Scrivlet FinderSync: initialized");
    EXPECT_FALSE(std::filesystem::exists(AnnotationStore::defaultPath()));
}

struct DrawingCase {
    const char* identifier;
    const char* color;
    const char* symbol;
    bool symbolMissing;
};

TEST_F(ExtensionTest, BadgeImagesDrawAnOvalInsetBy40AndTheSymbolInsetBy80OrTheBareOval) {
    for (const DrawingCase& c :
         std::vector<DrawingCase>{{"annotated", "systemBlueColor", "note.text", false},
                                  {"flagged", "systemOrangeColor", "flag.fill", false},
                                  {"flagged", "systemOrangeColor", "flag.fill", true}}) {
        SCOPED_TRACE(std::string(c.identifier) + (c.symbolMissing ? " without symbol" : ""));
        if (c.symbolMissing) {
            session.simulatedDesktop().removeSystemSymbol(c.symbol);
        }
        startExtension();
        const auto* badge = controller().badgeImage(c.identifier);
        ASSERT_NE(badge, nullptr);
        EXPECT_EQ(badge->image.size(), (CGSize{320, 320}));
        EXPECT_FALSE(badge->image.isFlipped());
        const auto drawing = badge->image.draw();
        EXPECT_TRUE(drawing.succeeded);
        std::vector<DrawingOperation> expected{
            {Kind::setFillColor, {}, c.color, {}, {}},
            {Kind::fillOval, CGRect(40, 40, 240, 240), c.color, {}, {}}};
        if (!c.symbolMissing) {
            const std::string label =
                std::string(c.identifier) == "flagged" ? "Flagged" : "Annotated";
            expected.push_back({Kind::drawSymbol, CGRect(80, 80, 160, 160), {}, c.symbol, label});
        }
        EXPECT_EQ(drawing.operations, expected);
    }
}

TEST_F(ExtensionTest, EveryStatusBadgesAnnotatedButFlaggedWhichBadgesFlagged) {
    const std::vector<std::pair<Annotation::Status, std::string>> cases{
        {Annotation::Status::none, "annotated"},
        {Annotation::Status::reviewed, "annotated"},
        {Annotation::Status::flagged, "flagged"},
        {Annotation::Status::approved, "annotated"},
        {Annotation::Status::needsWork, "annotated"}};
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        paths.push_back(annotate("file" + std::to_string(i), cases[i].first));
    }
    const std::string plain = session.home().makeFile("Documents/plain").string();
    startExtension();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const URL url = URL::fileURL(paths[i]);
        extension->requestBadgeIdentifierForURL(url);
        EXPECT_EQ(controller().badgeIdentifier(url), cases[i].second) << paths[i];
        EXPECT_EQ(controller().badgeSets().back().url, url);
    }
    extension->requestBadgeIdentifierForURL(URL::fileURL(plain));
    EXPECT_EQ(controller().badgeSets().back().identifier, "");
}

TEST_F(ExtensionTest, ADamagedRecordGetsNoBadgeJustAsItsFullRecordCannotBeRead) {
    const std::string tags = annotate("bad-tags", Annotation::Status::flagged);
    const std::string synced = annotate("bad-synced", Annotation::Status::flagged);
    runSql(AnnotationStore::defaultPath(),
           "UPDATE annotations SET tags = '[\"a\", 3]' WHERE path = '" + tags + "'");
    runSql(AnnotationStore::defaultPath(),
           "UPDATE annotations SET synced_tags = '[\"a\"' WHERE path = '" + synced + "'");
    startExtension();
    for (const std::string& path : {tags, synced}) {
        EXPECT_THROW(appStore().fetch(path), StoreError);
        EXPECT_EQ(extension->badgeIdentifier(path), "") << path;
    }
}

TEST_F(ExtensionTest, RefreshSetsEachDrainedPathOnceInOneBlockAndClearsDeletedRecords) {
    const std::string flagged = annotate("flagged", Annotation::Status::flagged);
    const std::string removed = annotate("removed");
    startExtension();
    appStore().deleteByPath(removed);
    BadgeRefreshNotifier::notifyChange(flagged);
    BadgeRefreshNotifier::notifyChange(removed);
    BadgeRefreshNotifier::notifyChange(flagged);
    runUntilIdle(); // the notice arrives on the run loop
    ASSERT_EQ(controller().badgeSets().size(), 2u);
    EXPECT_EQ(controller().badgeIdentifier(URL::fileURL(flagged)), "flagged");
    EXPECT_EQ(controller().badgeIdentifier(URL::fileURL(removed)), "");
    EXPECT_TRUE(BadgeRefreshNotifier::drainPendingPaths().empty());
}

TEST_F(ExtensionTest, TheMapIsAppliedLaterOnTheMainQueueAndAnEmptyDrainPostsNothing) {
    const std::string path = annotate("a");
    startExtension();
    runUntilIdle();
    extension->refreshPendingBadges();
    EXPECT_FALSE(session.services().runLoop().runUntilIdle()) << "a block was posted";
    BadgeRefreshNotifier::notifyChange(path);
    extension->refreshPendingBadges();
    EXPECT_TRUE(controller().badgeSets().empty()) << "applied before the main queue ran";
    runUntilIdle();
    EXPECT_EQ(controller().badgeIdentifier(URL::fileURL(path)), "annotated");
}

TEST_F(ExtensionTest, WithoutAStoreRequestsAnswerNoBadgeAndRefreshesClearDrainedPaths) {
    const std::string path = session.home().makeFile("Documents/a").string();
    startExtension();
    ASSERT_EQ(extension->store, nullptr);
    extension->requestBadgeIdentifierForURL(URL::fileURL(path));
    EXPECT_EQ(controller().badgeSets().back().identifier, "");
    BadgeRefreshNotifier::notifyChange(path);
    BadgeRefreshNotifier::notifyChange("/elsewhere/b");
    runUntilIdle();
    ASSERT_EQ(controller().badgeSets().size(), 3u);
    EXPECT_EQ(controller().badgeSets()[1].identifier, "");
    EXPECT_EQ(controller().badgeSets()[2].identifier, "");
}

TEST_F(ExtensionTest, NoBadgeChangeReachesAnExtensionThatIsGone) {
    const std::string path = annotate("a");
    startExtension();
    extension.reset();
    BadgeRefreshNotifier::notifyChange(path);
    runUntilIdle();
    EXPECT_TRUE(controller().badgeSets().empty());
}

} // namespace

} // namespace scrivlet
