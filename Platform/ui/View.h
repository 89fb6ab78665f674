#pragma once

#include "Platform/base/Export.h"
#include "Platform/ui/Binding.h"

#include <concepts>
#include <cstddef>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace scrivlet {

// A declarative view tree: the app describes what a window shows as a tree of plain values
// (kinds, modifiers, actions) built afresh from its model whenever the model changes. The
// desktop draws it; the observation side (ViewInspection.h) reads it and acts on it as a
// user would. Builders read like the declarative source they stand for:
//
//     ui::VStack(ui::HorizontalAlignment::leading, 16, {
//         ui::Text(record.fileName).font(ui::Font::headline).lineLimit(1),
//         ui::Divider(),
//     }).padding()
namespace ui {

enum class HorizontalAlignment { leading, center, trailing };
enum class VerticalAlignment { top, center, bottom };
enum class Axis { horizontal, vertical };

// Text styles of the user's type size, from the largest.
enum class Font {
    largeTitle,
    title,
    title2,
    title3,
    headline,
    subheadline,
    body,
    callout,
    footnote,
    caption,
    caption2,
};

// Foreground levels that follow the system's appearance (primary text, dimmer labels...).
enum class HierarchicalStyle { primary, secondary, tertiary, quaternary };

// A colour by name: a palette colour ("yellow") or a named system colour
// ("controlBackgroundColor"), which the desktop resolves for the current appearance.
struct SCRIVLET_PLATFORM_API Color {
    std::string name;

    static Color named(std::string systemName) { return Color{std::move(systemName)}; }
    static const Color yellow;
    static const Color orange;
    static const Color red;
    static const Color green;
    static const Color blue;
    static const Color gray;

    friend bool operator==(const Color&, const Color&) = default;
};
inline const Color Color::yellow{"yellow"};
inline const Color Color::orange{"orange"};
inline const Color Color::red{"red"};
inline const Color Color::green{"green"};
inline const Color Color::blue{"blue"};
inline const Color Color::gray{"gray"};

using ShapeStyle = std::variant<HierarchicalStyle, Color>;

enum class TruncationMode { head, middle, tail };
enum class Visibility { automatic, visible, hidden };
enum class RoundedCornerStyle { circular, continuous };

struct SCRIVLET_PLATFORM_API RoundedRectangle {
    double cornerRadius = 0;
    RoundedCornerStyle style = RoundedCornerStyle::circular;
    friend bool operator==(const RoundedRectangle&, const RoundedRectangle&) = default;
};

// Size limits of a frame; nothing leaves that limit to the content.
struct SCRIVLET_PLATFORM_API Frame {
    std::optional<double> minWidth = std::nullopt;
    std::optional<double> minHeight = std::nullopt;
    std::optional<double> maxWidth = std::nullopt;
    std::optional<double> maxHeight = std::nullopt;
    friend bool operator==(const Frame&, const Frame&) = default;
};

// What a text shows: a string shown as it is, or a localizable key (its English text) whose
// translation gets `arguments` in its placeholders. A string literal is a key, as in the
// declarative source, so that labels are localizable unless said otherwise.
class SCRIVLET_PLATFORM_API TextContent {
public:
    // Implicit, so that a literal passes for a key wherever text is expected.
    TextContent(const char* key) : TextContent(localized(key)) {}

    static TextContent verbatim(std::string text) {
        return TextContent(std::move(text), {}, false);
    }
    static TextContent localized(std::string key, std::vector<std::string> arguments = {}) {
        return TextContent(std::move(key), std::move(arguments), true);
    }

    bool isLocalized() const { return localized_; }
    // The verbatim text, or the key.
    const std::string& source() const { return source_; }
    const std::vector<std::string>& arguments() const { return arguments_; }
    // The text as shown, through the installed localization.
    std::string resolved() const;

    friend bool operator==(const TextContent&, const TextContent&) = default;

private:
    TextContent(std::string source, std::vector<std::string> arguments, bool localized)
        : source_(std::move(source)), arguments_(std::move(arguments)), localized_(localized) {}

    std::string source_;
    std::vector<std::string> arguments_;
    bool localized_ = false;
};

// Modifiers, kept as the data they stand for.
struct SCRIVLET_PLATFORM_API FontModifier {
    Font font;
    friend bool operator==(const FontModifier&, const FontModifier&) = default;
};
struct SCRIVLET_PLATFORM_API ForegroundStyleModifier {
    ShapeStyle style;
    friend bool operator==(const ForegroundStyleModifier&,
                           const ForegroundStyleModifier&) = default;
};
struct SCRIVLET_PLATFORM_API LineLimitModifier {
    std::optional<int> limit; // nothing: as many lines as needed
    friend bool operator==(const LineLimitModifier&, const LineLimitModifier&) = default;
};
struct SCRIVLET_PLATFORM_API TruncationModeModifier {
    TruncationMode mode;
    friend bool operator==(const TruncationModeModifier&, const TruncationModeModifier&) = default;
};
// On all four edges.
struct SCRIVLET_PLATFORM_API PaddingModifier {
    std::optional<double> length; // nothing: the standard padding of the platform
    friend bool operator==(const PaddingModifier&, const PaddingModifier&) = default;
};
struct SCRIVLET_PLATFORM_API FrameModifier {
    Frame frame;
    friend bool operator==(const FrameModifier&, const FrameModifier&) = default;
};
struct SCRIVLET_PLATFORM_API ScrollContentBackgroundModifier {
    Visibility visibility;
    friend bool operator==(const ScrollContentBackgroundModifier&,
                           const ScrollContentBackgroundModifier&) = default;
};
struct SCRIVLET_PLATFORM_API BackgroundModifier {
    Color color;
    friend bool operator==(const BackgroundModifier&, const BackgroundModifier&) = default;
};
struct SCRIVLET_PLATFORM_API ClipShapeModifier {
    RoundedRectangle shape;
    friend bool operator==(const ClipShapeModifier&, const ClipShapeModifier&) = default;
};
struct SCRIVLET_PLATFORM_API LabelsHiddenModifier {
    friend bool operator==(const LabelsHiddenModifier&, const LabelsHiddenModifier&) = default;
};

using Modifier =
    std::variant<FontModifier, ForegroundStyleModifier, LineLimitModifier, TruncationModeModifier,
                 PaddingModifier, FrameModifier, ScrollContentBackgroundModifier,
                 BackgroundModifier, ClipShapeModifier, LabelsHiddenModifier>;

// What a node is, with what only that kind has.
struct SCRIVLET_PLATFORM_API EmptyNode {};
struct SCRIVLET_PLATFORM_API ScrollViewNode {
    Axis axis = Axis::vertical;
    bool showsIndicators = true;
};
struct SCRIVLET_PLATFORM_API VStackNode {
    HorizontalAlignment alignment = HorizontalAlignment::center;
    std::optional<double> spacing; // nothing: the platform's default spacing
};
struct SCRIVLET_PLATFORM_API HStackNode {
    VerticalAlignment alignment = VerticalAlignment::center;
    std::optional<double> spacing;
};
struct SCRIVLET_PLATFORM_API TextNode {
    TextContent content;
};
struct SCRIVLET_PLATFORM_API ImageNode {
    std::string systemName;
};
struct SCRIVLET_PLATFORM_API DividerNode {};
// The choice between tagged options. The options' values stay behind `selectedIndex` and
// `select`, so the tree itself does not depend on the type of the value chosen.
struct SCRIVLET_PLATFORM_API PickerNode {
    TextContent title;
    std::vector<TextContent> options;
    std::function<std::optional<std::size_t>()> selectedIndex; // nothing: no option matches
    std::function<void(std::size_t)> select;
};
struct SCRIVLET_PLATFORM_API TextEditorNode {
    Binding<std::string> text;
};

// A one-line field. Return hands its text to `submit`; `completions` are what the field
// offers to complete the text with, best first (a completion chosen replaces the text).
struct SCRIVLET_PLATFORM_API TextFieldNode {
    TextContent prompt;
    Binding<std::string> text;
    std::vector<std::string> completions;
    std::function<void()> submit;
};

using NodeContent = std::variant<EmptyNode, ScrollViewNode, VStackNode, HStackNode, TextNode,
                                 ImageNode, DividerNode, PickerNode, TextEditorNode, TextFieldNode>;

// In the order of NodeContent.
enum class ViewKind {
    empty,
    scrollView,
    vStack,
    hStack,
    text,
    image,
    divider,
    picker,
    textEditor,
    textField,
};

struct SCRIVLET_PLATFORM_API TapGesture {
    int count = 1;
    std::function<void()> action;
};

class View;

// The children of a container: views, and lists of views (ForEach) flattened in place.
// Empty views take no place, so conditional content can simply build EmptyView().
class SCRIVLET_PLATFORM_API ViewList {
public:
    ViewList() = default;
    template <typename... Views>
    requires(sizeof...(Views) > 0 &&
             ((std::convertible_to<Views, View> ||
               std::same_as<std::remove_cvref_t<Views>, std::vector<View>>)&&...))
        // Implicit, so that children are written as a braced list.
        ViewList(Views&&... views) {
        (append(std::forward<Views>(views)), ...);
    }

    std::vector<View> take() &&;

private:
    void append(View view);
    void append(std::vector<View> views);

    std::vector<View> views_;
};

// One node of the tree. Copies share nothing mutable: actions and bindings reach the model,
// not the node.
class SCRIVLET_PLATFORM_API View {
public:
    explicit View(NodeContent content, std::vector<View> children = {});

    ViewKind kind() const { return static_cast<ViewKind>(content_.index()); }
    bool isEmpty() const { return kind() == ViewKind::empty; }
    template <typename Node> const Node* as() const { return std::get_if<Node>(&content_); }
    const NodeContent& content() const { return content_; }
    const std::vector<View>& children() const { return children_; }
    // In the order applied: the first is the innermost.
    const std::vector<Modifier>& modifiers() const { return modifiers_; }
    const std::vector<TapGesture>& tapGestures() const { return tapGestures_; }

    // The innermost modifier of that type: the one that wins when a view is given two.
    template <typename M> const M* modifier() const {
        for (const Modifier& candidate : modifiers_) {
            if (const M* found = std::get_if<M>(&candidate)) {
                return found;
            }
        }
        return nullptr;
    }

    View font(Font font) &&;
    View foregroundStyle(HierarchicalStyle style) &&;
    View foregroundStyle(Color color) &&;
    View lineLimit(std::optional<int> limit) &&;
    View truncationMode(TruncationMode mode) &&;
    View padding() &&;
    View padding(double length) &&;
    View frame(Frame frame) &&;
    View scrollContentBackground(Visibility visibility) &&;
    View background(Color color) &&;
    View clipShape(RoundedRectangle shape) &&;
    View labelsHidden() &&;
    View onTapGesture(int count, std::function<void()> action) &&;
    View onTapGesture(std::function<void()> action) && {
        return std::move(*this).onTapGesture(1, std::move(action));
    }

private:
    View modified(Modifier modifier) &&;

    NodeContent content_;
    std::vector<View> children_;
    std::vector<Modifier> modifiers_;
    std::vector<TapGesture> tapGestures_;
};

inline std::vector<View> ViewList::take() && {
    return std::move(views_);
}

// Builders.
// Where a node sits: the index of each child on the way down from the root.
using ViewPath = std::vector<std::size_t>;
// The nodes from the root down to `path`; empty when the path leads nowhere.
SCRIVLET_PLATFORM_API std::vector<const View*> chainTo(const View& root, const ViewPath& path);

SCRIVLET_PLATFORM_API View EmptyView();
SCRIVLET_PLATFORM_API View ScrollView(Axis axis, bool showsIndicators, View content);
inline View ScrollView(View content) {
    return ScrollView(Axis::vertical, true, std::move(content));
}
SCRIVLET_PLATFORM_API View VStack(HorizontalAlignment alignment, std::optional<double> spacing,
                                  ViewList content);
inline View VStack(ViewList content) {
    return VStack(HorizontalAlignment::center, std::nullopt, std::move(content));
}
SCRIVLET_PLATFORM_API View HStack(VerticalAlignment alignment, std::optional<double> spacing,
                                  ViewList content);
inline View HStack(ViewList content) {
    return HStack(VerticalAlignment::center, std::nullopt, std::move(content));
}
SCRIVLET_PLATFORM_API View Text(TextContent content);
// A literal is a localizable key; a string from the model is shown as it is.
inline View Text(const char* key) {
    return Text(TextContent::localized(key));
}
inline View Text(std::string verbatim) {
    return Text(TextContent::verbatim(std::move(verbatim)));
}
// An image of a named system symbol.
SCRIVLET_PLATFORM_API View Image(std::string systemName);
SCRIVLET_PLATFORM_API View Divider();
SCRIVLET_PLATFORM_API View TextEditor(Binding<std::string> text);
// A one-line field showing `prompt` while empty; Return runs `onSubmit`.
SCRIVLET_PLATFORM_API View TextField(TextContent prompt, Binding<std::string> text,
                                     std::vector<std::string> completions,
                                     std::function<void()> onSubmit);

// Views made from each element of `elements`, for a container's children.
template <typename Elements, typename Make>
std::vector<View> ForEach(const Elements& elements, Make make) {
    std::vector<View> views;
    if constexpr (requires { std::size(elements); }) {
        views.reserve(std::size(elements));
    }
    for (const auto& element : elements) {
        views.push_back(make(element));
    }
    return views;
}

// A picker of `tags`, each shown as `label(tag)` (a TextContent), bound to `selection`.
template <typename Value, typename Tags, typename Label>
View Picker(TextContent title, Binding<Value> selection, const Tags& tags, Label label) {
    auto values = std::make_shared<const std::vector<Value>>(std::begin(tags), std::end(tags));
    PickerNode node{std::move(title), {}, {}, {}};
    for (const Value& value : *values) {
        node.options.push_back(label(value));
    }
    node.selectedIndex = [selection, values]() -> std::optional<std::size_t> {
        const Value current = selection.get();
        for (std::size_t index = 0; index < values->size(); ++index) {
            if ((*values)[index] == current) {
                return index;
            }
        }
        return std::nullopt;
    };
    node.select = [selection, values](std::size_t index) { selection.set(values->at(index)); };
    return View(std::move(node));
}

} // namespace ui

} // namespace scrivlet
