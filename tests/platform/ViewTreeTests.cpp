#include "Platform/control/ViewInspection.h"
#include "Platform/ui/HostingView.h"
#include "Platform/ui/Localization.h"
#include "Platform/ui/View.h"

#include <gtest/gtest.h>
#include <map>
#include <optional>

using namespace scrivlet;

namespace {

using Strings = std::vector<std::string>;

// A model with the observer interface of the app's view models.
struct TextModel {
    std::string text;
    std::map<std::uint64_t, std::function<void()>> observers;
    std::uint64_t nextID = 1;

    std::uint64_t addObserver(std::function<void()> observer) {
        observers.emplace(nextID, std::move(observer));
        return nextID++;
    }
    void removeObserver(std::uint64_t id) { observers.erase(id); }
    void setText(std::string value) {
        text = std::move(value);
        for (const auto& [id, observer] : std::map(observers)) {
            observer();
        }
    }
};

// A binding that records every write, as the editor's model would see them.
ui::Binding<std::string> recordingBinding(std::string& value, Strings& writes) {
    return ui::Binding<std::string>([&value] { return value; },
                                    [&value, &writes](std::string text) {
                                        writes.push_back(text);
                                        value = std::move(text);
                                    });
}

TEST(ViewBuilders, ChildrenSkipEmptyViewsAndFlattenLists) {
    const ui::View stack = ui::VStack({
        ui::Text("a"),
        ui::EmptyView(),
        ui::ForEach(std::vector{1, 2}, [](int i) { return ui::Text(std::to_string(i)); }),
        ui::Divider(),
    });
    EXPECT_EQ(ui::renderLines(stack), (Strings{"VStack center", "  Text \"a\"", "  Text \"1\"",
                                               "  Text \"2\"", "  Divider"}));
    EXPECT_TRUE(ui::ScrollView(ui::EmptyView()).children().empty());
}

TEST(ViewBuilders, LiteralsAreKeysButStringsAreShownAsTheyAre) {
    ui::ScopedLocalizationTable german(ui::Localization::Table{{"Rating", "Bewertung"}});
    EXPECT_EQ(ui::ViewInspector(ui::Text("Rating")).text({}), "Bewertung");
    EXPECT_EQ(ui::ViewInspector(ui::Text(std::string("Rating"))).text({}), "Rating");
    EXPECT_EQ(ui::ViewInspector(ui::Text(ui::TextContent::verbatim("Rating"))).text({}), "Rating");
}

TEST(ViewInspection, StylesPassDownAndTheInnermostWins) {
    const ui::ViewInspector inspector(
        ui::VStack(
            {ui::Text("plain"), ui::Text("own").font(ui::Font::headline).font(ui::Font::body)})
            .font(ui::Font::caption)
            .foregroundStyle(ui::Color::yellow));
    EXPECT_EQ(inspector.font({0}), ui::Font::caption);
    EXPECT_EQ(inspector.font({1}), ui::Font::headline);
    EXPECT_EQ(inspector.foregroundStyle({1}), ui::ShapeStyle(ui::Color::yellow));
    EXPECT_EQ(inspector.font({7}), std::nullopt) << "no node there";
}

TEST(ViewInspection, FindsInDrawingOrder) {
    ui::ScopedLocalizationTable german(ui::Localization::Table{{"Rating", "Bewertung"}});
    const ui::ViewInspector inspector(ui::VStack({
        ui::HStack({ui::Image("star.fill"), ui::VStack({ui::Image("star")})}),
        ui::Image("star"),
        ui::Text("Rating"),
    }));
    EXPECT_EQ(inspector.findImage("star"), (ui::ViewPath{0, 1, 0})) << "depth first";
    EXPECT_EQ(inspector.findImage("star", 1), (ui::ViewPath{1}));
    EXPECT_EQ(inspector.findImage("star", 2), std::nullopt);
    EXPECT_EQ(inspector.find(ui::ViewKind::vStack, 1), (ui::ViewPath{0, 1}));
    EXPECT_EQ(inspector.findText("Bewertung"), (ui::ViewPath{2})) << "as shown, localized";
    EXPECT_EQ(inspector.findText("Rating"), std::nullopt);
}

TEST(ViewInspection, TapRunsTheGestureForItsCountOnTheInnermostTakerOnly) {
    Strings taps;
    const auto record = [&taps](std::string what) {
        return [&taps, what] { taps.push_back(what); };
    };
    const ui::ViewInspector inspector(
        ui::VStack(
            {
                ui::Image("star").onTapGesture(record("star")).onTapGesture(2, record("star x2")),
                ui::Text("label"),
            })
            .onTapGesture(record("stack")));
    EXPECT_TRUE(inspector.tap({0}));
    EXPECT_TRUE(inspector.tap({0}, 2));
    EXPECT_TRUE(inspector.tap({1})) << "a tap on plain content reaches its container";
    EXPECT_FALSE(inspector.tap({1}, 2));
    EXPECT_FALSE(inspector.tap({5}));
    EXPECT_EQ(taps, (Strings{"star", "star x2", "stack"}));
}

TEST(ViewInspection, PickerChoosesByTheOptionShownAndWritesItsTag) {
    enum class Fruit { apple, pear, plum };
    Fruit fruit = Fruit::apple;
    const ui::Binding<Fruit> selection([&fruit] { return fruit; },
                                       [&fruit](Fruit f) { fruit = f; });
    const ui::ViewInspector inspector(
        ui::Picker("Fruit", selection, std::vector{Fruit::apple, Fruit::pear}, [](Fruit f) {
            return ui::TextContent::verbatim(f == Fruit::apple ? "apple" : "pear");
        }).labelsHidden());
    EXPECT_EQ(inspector.selection({}), "apple");
    EXPECT_TRUE(inspector.choose({}, "pear"));
    EXPECT_EQ(fruit, Fruit::pear);
    EXPECT_FALSE(inspector.choose({}, "kiwi"));
    EXPECT_EQ(fruit, Fruit::pear);

    fruit = Fruit::plum;
    EXPECT_EQ(inspector.selection({}), std::nullopt);
    EXPECT_EQ(inspector.render(),
              Strings{"Picker \"Fruit\" no selection options [\"apple\", \"pear\"] labelsHidden"});
}

TEST(ViewInspection, TypingWritesTheWholeTextOncePerCharacter) {
    std::string note = "x";
    Strings writes;
    const ui::ViewInspector inspector(
        ui::VStack({ui::Text("label"), ui::TextEditor(recordingBinding(note, writes))}));
    EXPECT_TRUE(inspector.type({1}, "h\xC3\xA9!")) << "é is one keystroke of two bytes";
    EXPECT_EQ(writes, (Strings{"xh", "xh\xC3\xA9", "xh\xC3\xA9!"}));

    writes.clear();
    EXPECT_TRUE(inspector.paste({1}, " pasted"));
    EXPECT_EQ(writes, Strings{"xh\xC3\xA9! pasted"});

    note = "h\xC3\xA9";
    writes.clear();
    EXPECT_TRUE(inspector.deleteBackward({1}, 3));
    EXPECT_EQ(writes, (Strings{"h", ""})) << "deleting in an empty editor writes nothing";

    EXPECT_FALSE(inspector.type({0}, "a")) << "a text is no editor";
    EXPECT_FALSE(inspector.paste({2}, "a"));
}

TEST(ViewRendering, IndentsChildrenAndEscapesText) {
    const ui::View tree = ui::ScrollView(
        ui::VStack(ui::HorizontalAlignment::leading, 16,
                   {
                       ui::Text(std::string("say \"hi\"\nthere\\")).font(ui::Font::headline),
                       ui::HStack(ui::VerticalAlignment::center, 4.5,
                                  {ui::Image("star.fill").foregroundStyle(ui::Color::yellow)}),
                       ui::Divider(),
                   })
            .padding());
    EXPECT_EQ(ui::renderLines(tree), (Strings{
                                         "ScrollView vertical showsIndicators",
                                         "  VStack leading spacing 16 padding",
                                         "    Text \"say \\\"hi\\\"\\nthere\\\\\" headline",
                                         "    HStack center spacing 4.5",
                                         "      Image star.fill yellow",
                                         "    Divider",
                                     }));
    EXPECT_TRUE(ui::renderLines(ui::EmptyView()).empty());
}

TEST(ViewHosting, RebuildsOncePerChangeAndActsOnTheCurrentTree) {
    TextModel model;
    // The editor reads the text its tree was built with, so typing into a stale tree would
    // lose every keystroke but the last.
    ui::HostingView host(
        [&model] {
            const std::string built = model.text;
            return ui::VStack({ui::Text(built), ui::TextEditor(ui::Binding<std::string>(
                                                    [built] { return built; },
                                                    [&model](std::string text) {
                                                        model.setText(std::move(text));
                                                    }))});
        },
        ui::observing(model));
    const ui::ViewInspector inspector(host);
    EXPECT_EQ(host.rebuildCount(), 0u);

    ASSERT_TRUE(inspector.type({1}, "abc"));
    EXPECT_EQ(model.text, "abc");
    EXPECT_EQ(host.rebuildCount(), 3u);
    EXPECT_EQ(inspector.text({0}), "abc");

    const auto before = host.tree();
    host.rebuild();
    EXPECT_NE(host.tree(), before);
    EXPECT_EQ(host.rebuildCount(), 4u);
}

TEST(ViewHosting, StopsObservingWhenDestroyed) {
    TextModel model;
    {
        ui::HostingView host([] { return ui::Divider(); }, ui::observing(model));
        EXPECT_EQ(model.observers.size(), 1u);
    }
    EXPECT_TRUE(model.observers.empty());
    model.setText("after");
}

TEST(ViewLocalization, FallsBackToTheKeyAndFillsArguments) {
    EXPECT_EQ(ui::Localization::format("Created: %@", {"today"}), "Created: today");
    EXPECT_EQ(ui::Localization::format("100%% of %@ and %@", {"a"}), "100% of a and ");
    {
        ui::ScopedLocalizationTable table({{"%@ of %@", "%2$@ de %1$@"}, {"Tags", "Schlagwörter"}});
        EXPECT_EQ(ui::Localization::format("%@ of %@", {"one", "two"}), "two de one");
        EXPECT_EQ(ui::Localization::string("Tags"), "Schlagwörter");
        EXPECT_EQ(ui::Localization::string("Note"), "Note");
    }
    EXPECT_EQ(ui::Localization::string("Tags"), "Tags") << "the previous (no) table is back";
}

} // namespace
