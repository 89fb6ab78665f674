// Tags typed in the panel: what a typed text becomes, what completes it, how the view model
// stores and mirrors it; and how unsaved edits meet a change another process saved.
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/AnnotationWriter.h"
#include "Scrivcore/FinderTagSync.h"
#include "Scrivcore/PanelViewModel.h"
#include "Scrivcore/TagRules.h"
#include "Scrivcore/detail/EditMerge.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualScheduler.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

using Tags = std::vector<std::string>;

TEST(TagRules, TypedTextBecomesOneTrimmedNFCTagOrNone) {
    EXPECT_EQ(TagRules::normalizedTag("  Q3 2026\t"), "Q3 2026");
    EXPECT_EQ(TagRules::normalizedTag("\u3000caf\u0065\u0301\u00A0"), "caf\u00E9")
        << "Unicode spaces go, the accent composes";
    EXPECT_EQ(TagRules::normalizedTag("Work"), "Work") << "case is kept";
    for (const std::string refused : {"", "   ", "\u2003", "a\nb", "a\x01", "bad\xFF"}) {
        EXPECT_FALSE(TagRules::normalizedTag(refused)) << refused;
    }
    EXPECT_FALSE(TagRules::normalizedTag(std::string("a\0b", 3)));
    EXPECT_EQ(TagRules::addingTag({"a", "b"}, "a"), (Tags{"a", "b"}));
    EXPECT_EQ(TagRules::addingTag({"a"}, "A"), (Tags{"a", "A"}));
}

TEST(TagRules, CompletionsMatchABeginningWhateverTheCaseInTheOrderGiven) {
    const Tags inUse{"Quarterly", "q3 2026", "Q3 2026", "budget", "\u00C9t\u00E9"};
    EXPECT_EQ(TagRules::completions("q", inUse, {}, 5), (Tags{"Quarterly", "q3 2026", "Q3 2026"}));
    EXPECT_EQ(TagRules::completions("Q3", inUse, {"q3 2026"}, 5), (Tags{"Q3 2026"}))
        << "a tag the record has is not offered";
    EXPECT_EQ(TagRules::completions("q", inUse, {}, 2), (Tags{"Quarterly", "q3 2026"}));
    EXPECT_EQ(TagRules::completions("\u00E9", inUse, {}, 5), (Tags{"\u00C9t\u00E9"}));
    EXPECT_TRUE(TagRules::completions(" ", inUse, {}, 5).empty());
}

const std::string composed = "\xC3\xA9";    // é as one code point
const std::string decomposed = "e\xCC\x81"; // e and a combining acute accent

TEST(TagRules, StoredListsAreNFCTrimmedAndDeDuplicatedWithTheirCaseKept) {
    EXPECT_EQ(TagRules::normalizedTag(" \t" + decomposed + "t\xC3\xA9 \n"),
              composed + "t" + composed);
    EXPECT_EQ(TagRules::storedTags({"\xFF bad ", "  ", "a\x01"}), (Tags{"\uFFFD bad", "a\x01"}))
        << "what an older writer stored is kept, readable, and only blanks go";
    EXPECT_EQ(
        TagRules::edited({"Draft", decomposed}, {" Draft", composed, "draft", "  ", "new"}, {}),
        (Tags{"Draft", composed, "draft", "new"}));
    EXPECT_EQ(TagRules::edited({"a", composed, "b"}, {"b", "c"}, {decomposed + " ", "c"}),
              (Tags{"a", "b"}));
}

TEST(TagRules, SearchKeysFoldCaseAndCanonicalForms) {
    EXPECT_EQ(TagRules::folded("Q3 2026"), TagRules::folded("q3 2026 "));
    EXPECT_EQ(TagRules::folded("\xC3\x89t\xC3\xA9"),
              TagRules::folded(decomposed + "T" + decomposed));
    EXPECT_EQ(TagRules::folded("STRASSE"), TagRules::folded("stra\xC3\x9F"
                                                            "e"));
    EXPECT_NE(TagRules::folded("Q3"), TagRules::folded("Q3 2026"));
}

TEST(EditMerge, TheUsersFieldsWinTheOthersFollowTheStoreAndTagsMergeAsSets) {
    Annotation base = Annotation::forFile("/f", Date());
    base.tags = {"a", "b"};
    base.syncedTags = {"a"};
    Annotation mine = base;
    mine.note = "mine";
    mine.tags = {"a", "mine"}; // removed b, added mine
    Annotation theirs = base;
    theirs.note = "theirs";
    theirs.rating = 3;
    theirs.tags = {"a", "b", "theirs"};
    theirs.syncedTags = {"a", "b", "theirs"};

    const auto merged = scrivcore::detail::mergeUnsavedEdits(base, mine, theirs);
    EXPECT_EQ(merged.record.note, "mine");
    EXPECT_EQ(merged.record.rating, 3);
    EXPECT_EQ(merged.record.tags, (Tags{"a", "theirs", "mine"}));
    EXPECT_EQ(merged.record.syncedTags, theirs.syncedTags) << "the file as it is now";
    EXPECT_EQ(merged.overridden, Tags{"note"});

    theirs.note = "mine";
    EXPECT_TRUE(scrivcore::detail::mergeUnsavedEdits(base, mine, theirs).overridden.empty())
        << "the same value on both sides overrides nothing";
}

class TagEditing : public ::testing::Test {
protected:
    TempHome home;
    LogCapture log;
    ManualScheduler scheduler;
    std::shared_ptr<AnnotationStore> store =
        std::make_shared<AnnotationStore>(home.storePath().string());
    fs::path report = home.makeFile("Documents/report.txt", "text");
    fs::path photo = home.makeFile("Pictures/photo.jpg", "jpeg");
    PanelViewModel model{store, scheduler};

    // A save by another writer, on its own connection.
    void saveElsewhere(const fs::path& file, const std::function<void(Annotation&)>& change) {
        AnnotationStore other(home.storePath().string());
        Annotation record =
            other.fetch(file.string()).value_or(Annotation::forFile(file.string(), Date()));
        change(record);
        other.save(record);
    }
};

TEST_F(TagEditing, AddedTagsAreStoredOnceAndMirroredOnTheFileAndRemovedFromIt) {
    model.selectFile(report);
    model.setTagDraft(" urgent ");
    EXPECT_TRUE(model.addTag(model.tagDraft()));
    EXPECT_TRUE(model.tagDraft().empty());
    EXPECT_TRUE(model.addTag("urgent"));
    EXPECT_TRUE(model.addTag("a,b")) << "kept in the store though the file cannot carry it";
    EXPECT_FALSE(model.addTag("   "));
    scheduler.advance(1);
    EXPECT_EQ(store->fetch(report.string())->tags, (Tags{"urgent", "a,b"}));
    EXPECT_EQ(FinderTagSync::readTags(report), Tags{"urgent"});

    model.removeTag("urgent");
    scheduler.advance(1);
    EXPECT_EQ(store->fetch(report.string())->tags, Tags{"a,b"});
    EXPECT_TRUE(FinderTagSync::readTags(report).empty());
}

TEST_F(TagEditing, TheFieldCompletesFromTheTagsInUseMostUsedFirst) {
    saveElsewhere(photo, [](Annotation& record) { record.tags = {"Quarterly", "Q3 2026"}; });
    saveElsewhere(home.makeFile("b.txt"), [](Annotation& record) { record.tags = {"Q3 2026"}; });
    EXPECT_EQ(store->tagsInUse(), (Tags{"Q3 2026", "Quarterly"}));

    model.selectFile(report);
    EXPECT_TRUE(model.tagCompletions().empty());
    model.setTagDraft("q");
    EXPECT_EQ(model.tagCompletions(), (Tags{"Q3 2026", "Quarterly"}));
    model.addTag("Q3 2026");
    model.setTagDraft("q");
    EXPECT_EQ(model.tagCompletions(), Tags{"Quarterly"});
    model.selectFile(photo);
    EXPECT_TRUE(model.tagDraft().empty()) << "a draft belongs to the file it was typed for";
}

TEST_F(TagEditing, AChangeElsewhereShowsAndARemovalKeepsUnsavedEditsToSaveAgain) {
    model.selectFile(report);
    EXPECT_FALSE(model.reloadFromStore()) << "nothing changed";
    saveElsewhere(report, [](Annotation& record) { record.rating = 5; });
    EXPECT_TRUE(model.reloadFromStore());
    EXPECT_EQ(model.annotation()->rating, 5);
    EXPECT_FALSE(model.hasUnsavedChanges());

    model.editAnnotation([](Annotation& record) { record.note = "typed"; });
    model.scheduleSave();
    AnnotationStore(home.storePath().string()).deleteByPath(report.string());
    EXPECT_TRUE(model.reloadFromStore());
    EXPECT_EQ(model.annotation()->note, "typed");
    EXPECT_TRUE(log.contains("whose annotation was removed elsewhere"));
    scheduler.advance(1);
    ASSERT_TRUE(store->fetch(report.string()));
    EXPECT_EQ(store->fetch(report.string())->note, "typed");
}

TEST_F(TagEditing, ASaveBeforeTheNoticeStillWritesNoStaleFieldBack) {
    model.selectFile(report);
    model.editAnnotation([](Annotation& record) { record.note = "typed"; });
    model.scheduleSave();
    saveElsewhere(report, [](Annotation& record) {
        record.rating = 4;
        record.tags = {"theirs"};
    });
    scheduler.advance(1); // the save timer fires; no notice was handled
    const auto stored = store->fetch(report.string());
    EXPECT_EQ(stored->rating, 4);
    EXPECT_EQ(stored->tags, Tags{"theirs"});
    EXPECT_EQ(stored->note, "typed");
}

// Another writer's save cannot land between what a save read and what it writes back: it
// waits (here, with no wait allowed, it is refused) instead of being overwritten.
TEST_F(TagEditing, NoOtherSaveLandsBetweenTheReadAndTheWriteOfASave) {
    AnnotationStore other(home.storePath().string());
    other.setBusyTimeout(std::chrono::milliseconds(0));
    const auto saveOther = [&] {
        Annotation record = Annotation::forFile(report.string(), Date());
        record.tags = {"other"};
        other.save(record);
    };
    EXPECT_THROW(AnnotationWriter::update(*store, report.string(),
                                          [&](Annotation& record) {
                                              saveOther();
                                              record.rating = 2;
                                          }),
                 StoreError);
    EXPECT_FALSE(store->fetch(report.string())) << "all or nothing";
}

} // namespace
