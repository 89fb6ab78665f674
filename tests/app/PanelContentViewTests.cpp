#include "Platform/control/ViewInspection.h"
#include "Platform/ui/HostingView.h"
#include "Platform/ui/Localization.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/PanelViewModel.h"
#include "Scrivlet/PanelContentView.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualScheduler.h"
#include "tests/support/TempHome.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <optional>
#include <utility>
#include <vector>

using namespace scrivlet;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using Strings = std::vector<std::string>;

// Dates are shown in local time and in the user's time locale; these tests read them in UTC
// and in English, whatever the machine is set to.
class UtcZone {
public:
    UtcZone() {
        for (const char* name : {"TZ", "LC_ALL"}) {
            const char* value = std::getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        setenv("TZ", "UTC", 1);
        setenv("LC_ALL", "C", 1);
        tzset();
    }
    ~UtcZone() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
        tzset();
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class PanelContentViewTest : public ::testing::Test {
protected:
    UtcZone utc;
    TempHome home;
    LogCapture log;
    ManualScheduler scheduler;
    std::shared_ptr<AnnotationStore> store =
        std::make_shared<AnnotationStore>(home.storePath().string());
    fs::path report = home.makeFile("Documents/report.txt", "text");
    // Every change the model announces, with the note it holds then; these outlive the model.
    int changes = 0;
    Strings notes;
    PanelViewModel model{store, scheduler};

    void recordChanges() {
        model.addObserver([this] {
            ++changes;
            notes.push_back(model.annotation() ? model.annotation()->note : "-");
        });
    }

    // Shows the report with its annotation changed by `setUp` (not saved).
    void showReport(const std::function<void(Annotation&)>& setUp = [](Annotation&) {}) {
        model.selectFile(report);
        model.editAnnotation(setUp);
    }
    // The panel as drawn now, with the one-line tag row; acting on it later acts on this very
    // tree.
    ui::ViewInspector drawn() {
        return ui::ViewInspector(
            PanelContentView{model, PanelContentView::TagRow::readOnly}.body());
    }

    static std::optional<ui::ViewPath> star(const ui::ViewInspector& panel, int number) {
        return panel.find(
            [](const ui::View& node) {
                const auto* image = node.as<ui::ImageNode>();
                return image && (image->systemName == "star" || image->systemName == "star.fill");
            },
            static_cast<std::size_t>(number - 1));
    }
    std::optional<Annotation> stored() { return store->fetch(report.string()); }
};

TEST_F(PanelContentViewTest, DrawsNothingWithoutAnAnnotation) {
    EXPECT_TRUE(PanelContentView{model}.body().isEmpty());
    ui::HostingView host([this] { return PanelContentView{model}.body(); }, ui::observing(model));
    EXPECT_TRUE(ui::ViewInspector(host).render().empty());
}

TEST_F(PanelContentViewTest, ShowsTheWholeAnnotation) {
    showReport([](Annotation& record) {
        record.rating = 2;
        record.status = Annotation::Status::flagged;
        record.tags = {"a", "b"};
        record.note = "line one\nline two";
        record.createdAt = Date(1'796'644'800s);  // 7 Dec 2026, noon
        record.modifiedAt = Date(1'800'147'900s); // 17 Jan 2027, 1:05
    });
    const std::string folder = report.parent_path().lexically_normal().string();
    EXPECT_EQ(drawn().render(),
              (Strings{
                  "ScrollView vertical showsIndicators",
                  "  VStack leading spacing 16 padding",
                  "    HStack center spacing 10",
                  "      Image doc.fill title2 secondary",
                  "      VStack leading spacing 2",
                  "        Text \"report.txt\" headline lineLimit 1",
                  "        Text \"" + folder + "\" caption secondary lineLimit 1 truncation head",
                  "    Divider",
                  "    VStack leading spacing 4",
                  "      Text \"Rating\" subheadline secondary",
                  "      HStack center spacing 4 title3",
                  "        Image star.fill yellow",
                  "        Image star.fill yellow",
                  "        Image star secondary",
                  "        Image star secondary",
                  "        Image star secondary",
                  "    VStack leading spacing 4",
                  "      Text \"Status\" subheadline secondary",
                  "      Picker \"Status\" selection \"flagged\" options [\"none\", \"reviewed\", "
                  "\"flagged\", \"approved\", \"needs-work\"] labelsHidden",
                  "    VStack leading spacing 4",
                  "      Text \"Tags\" subheadline secondary",
                  "      Text \"a, b\" body",
                  "    VStack leading spacing 4",
                  "      Text \"Note\" subheadline secondary",
                  "      TextEditor \"line one\\nline two\" body frame minHeight 100 "
                  "scrollContentBackground hidden padding 4 background controlBackgroundColor "
                  "clipShape roundedRectangle 6 continuous",
                  "    Divider",
                  "    VStack leading spacing 2 caption secondary",
                  "      Text \"Created: Dec 7, 2026 at 12:00 PM\"",
                  "      Text \"Modified: Jan 17, 2027 at 1:05 AM\"",
              }));
}

TEST_F(PanelContentViewTest, StarsShowTheRatingAndEachTakesASingleTap) {
    showReport([](Annotation& record) { record.rating = 3; });
    const auto panel = drawn();
    for (int number = 1; number <= 5; ++number) {
        SCOPED_TRACE(number);
        const auto node = panel.node(*star(panel, number));
        EXPECT_EQ(node->as<ui::ImageNode>()->systemName, number <= 3 ? "star.fill" : "star");
        EXPECT_EQ(panel.foregroundStyle(*star(panel, number)),
                  number <= 3 ? ui::ShapeStyle(ui::Color::yellow)
                              : ui::ShapeStyle(ui::HierarchicalStyle::secondary));
        EXPECT_EQ(panel.font(*star(panel, number)), ui::Font::title3);
        ASSERT_EQ(node->tapGestures().size(), 1u);
        EXPECT_EQ(node->tapGestures()[0].count, 1);
    }
}

TEST_F(PanelContentViewTest, TappingAStarSetsTheRatingOrClearsTheOneShown) {
    struct Case {
        int rating, star, expected;
    };
    for (const Case c :
         {Case{3, 3, 0}, Case{3, 5, 5}, Case{3, 1, 1}, Case{0, 1, 1}, Case{5, 5, 0}}) {
        SCOPED_TRACE(testing::Message() << "rating " << c.rating << ", star " << c.star);
        showReport([&](Annotation& record) { record.rating = c.rating; });
        const auto panel = drawn();
        ASSERT_TRUE(panel.tap(*star(panel, c.star)));
        EXPECT_EQ(model.annotation()->rating, c.expected);
        scheduler.advance(1);
        EXPECT_EQ(stored()->rating, c.expected);
    }
}

TEST_F(PanelContentViewTest, ATapCountsAgainstTheRatingTheStarWasDrawnWith) {
    showReport([](Annotation& record) { record.rating = 3; });
    const auto panel = drawn();
    model.editAnnotation([](Annotation& record) { record.rating = 4; });
    panel.tap(*star(panel, 3));
    EXPECT_EQ(model.annotation()->rating, 0) << "the user saw three stars and tapped the third";
}

TEST_F(PanelContentViewTest, TagsShowJoinedOrAPlaceholder) {
    showReport();
    auto panel = drawn();
    auto placeholder = panel.findText("No tags");
    ASSERT_TRUE(placeholder);
    EXPECT_EQ(panel.foregroundStyle(*placeholder), ui::ShapeStyle(ui::HierarchicalStyle::tertiary));
    EXPECT_EQ(panel.font(*placeholder), ui::Font::body);

    model.editAnnotation([](Annotation& record) { record.tags = {"a", "b"}; });
    panel = drawn();
    EXPECT_FALSE(panel.findText("No tags"));
    const auto tags = panel.findText("a, b");
    ASSERT_TRUE(tags);
    EXPECT_EQ(panel.foregroundStyle(*tags), std::nullopt);
}

TEST_F(PanelContentViewTest, HeaderShowsTheFolderAndCutsLongOnesAtTheStart) {
    model.selectFile(fs::path("/report.txt"));
    EXPECT_TRUE(drawn().findText("/")) << "a file at the top of the disk";

    const std::string deep = "/Volumes/Archive/2026/Clients/Northwind/Quarterly reports/Drafts";
    model.selectFile(fs::path(deep + "/summary.txt"));
    const auto panel = drawn();
    const auto folder = panel.findText(deep);
    ASSERT_TRUE(folder);
    const auto node = panel.node(*folder);
    EXPECT_EQ(node->modifier<ui::TruncationModeModifier>()->mode, ui::TruncationMode::head);
    EXPECT_EQ(node->modifier<ui::LineLimitModifier>()->limit, 1);
}

TEST_F(PanelContentViewTest, TypingWritesTheWholeNoteAtEachKeystrokeAndSavesAfterAPause) {
    showReport();
    recordChanges();
    ui::HostingView host([this] { return PanelContentView{model}.body(); }, ui::observing(model));
    const ui::ViewInspector panel(host);

    ASSERT_TRUE(panel.type(*panel.find(ui::ViewKind::textEditor), "hello"));
    EXPECT_EQ(notes, (Strings{"h", "he", "hel", "hell", "hello"}));
    EXPECT_FALSE(stored()) << "saves wait for the typing to pause";
    scheduler.advance(1);
    EXPECT_EQ(stored()->note, "hello");

    notes.clear();
    ASSERT_TRUE(panel.paste(*panel.find(ui::ViewKind::textEditor), ", world"));
    EXPECT_EQ(notes, Strings{"hello, world"});
    scheduler.advance(1);
    EXPECT_EQ(stored()->note, "hello, world");
}

TEST_F(PanelContentViewTest, ChoosingAStatusStoresIt) {
    showReport();
    const auto panel = drawn();
    const auto picker = panel.find(ui::ViewKind::picker);
    EXPECT_EQ(panel.selection(*picker), "none");
    ASSERT_TRUE(panel.choose(*picker, "needs-work"));
    EXPECT_EQ(model.annotation()->status, Annotation::Status::needsWork);
    EXPECT_EQ(panel.selection(*picker), "needs-work") << "the picker reads the model";
    scheduler.advance(1);
    EXPECT_EQ(stored()->status, Annotation::Status::needsWork);
}

TEST_F(PanelContentViewTest, EditsAfterTheAnnotationWentAwayChangeNothing) {
    showReport();
    const auto panel = drawn();
    model.selectFile(std::nullopt);
    recordChanges();

    panel.tap(*star(panel, 2));
    panel.choose(*panel.find(ui::ViewKind::picker), "flagged");
    panel.type(*panel.find(ui::ViewKind::textEditor), "hi");
    EXPECT_EQ(panel.selection(*panel.find(ui::ViewKind::picker)), "none");
    EXPECT_EQ(panel.text(*panel.find(ui::ViewKind::textEditor)), "");
    scheduler.advance(5);
    EXPECT_EQ(changes, 0);
    EXPECT_FALSE(model.hasUnsavedChanges());
    EXPECT_FALSE(stored());
}

TEST_F(PanelContentViewTest, HostRebuildsOncePerModelChange) {
    showReport();
    recordChanges();
    ui::HostingView host([this] { return PanelContentView{model}.body(); }, ui::observing(model));
    const ui::ViewInspector panel(host);

    panel.tap(*star(panel, 2));
    EXPECT_EQ(host.rebuildCount(), 1u);
    EXPECT_EQ(panel.node(*star(panel, 2))->as<ui::ImageNode>()->systemName, "star.fill");
    panel.choose(*panel.find(ui::ViewKind::picker), "approved");
    scheduler.advance(1); // the save announces the stored record too
    model.selectFile(std::nullopt);
    EXPECT_EQ(host.rebuildCount(), static_cast<std::size_t>(changes));
    EXPECT_GE(changes, 4);
    EXPECT_TRUE(panel.render().empty());
}

TEST_F(PanelContentViewTest, LabelsAreLocalizedButFileContentIsNot) {
    ui::ScopedLocalizationTable german({{"Rating", "Bewertung"},
                                        {"No tags", "Keine Schlagwörter"},
                                        {"Created: %@", "Erstellt: %@"},
                                        {"report.txt", "Bericht"},
                                        {"flagged", "markiert"}});
    showReport([](Annotation& record) { record.createdAt = Date(1'796'644'800s); });
    const auto panel = drawn();
    EXPECT_TRUE(panel.findText("Bewertung"));
    EXPECT_TRUE(panel.findText("Keine Schlagwörter"));
    EXPECT_TRUE(panel.findText("Erstellt: Dec 7, 2026 at 12:00 PM"));
    EXPECT_TRUE(panel.findText("report.txt"));
    EXPECT_TRUE(panel.choose(*panel.find(ui::ViewKind::picker), "flagged"));
}

TEST_F(PanelContentViewTest, TheEditableRowAddsWhatIsTypedOnReturnAndRemovesBesideEachTag) {
    showReport([](Annotation& record) { record.tags = {"a"}; });
    ui::HostingView host([this] { return PanelContentView{model}.body(); }, ui::observing(model));
    const ui::ViewInspector panel(host);
    const auto field = panel.find(ui::ViewKind::textField);
    ASSERT_TRUE(field);
    ASSERT_TRUE(panel.type(*panel.find(ui::ViewKind::textField), " b "));
    ASSERT_TRUE(panel.submit(*panel.find(ui::ViewKind::textField)));
    EXPECT_EQ(model.annotation()->tags, (Strings{"a", "b"}));
    EXPECT_EQ(panel.text(*panel.find(ui::ViewKind::textField)), "") << "the field is ready again";

    const auto removeA = panel.findImage("xmark.circle.fill", 0);
    ASSERT_TRUE(removeA);
    ASSERT_TRUE(panel.tap(*removeA));
    EXPECT_EQ(model.annotation()->tags, Strings{"b"});
    scheduler.advance(1);
    EXPECT_EQ(stored()->tags, Strings{"b"}) << "tag edits are saved like the others";
}

} // namespace
