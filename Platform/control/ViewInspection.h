#pragma once

#include "Platform/ui/HostingView.h"
#include "Platform/ui/View.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scrivlet {

// The observation side of the view tree, for tests and scenarios: finds nodes, acts on them
// as a user would, and writes a tree out as text. Only the desktop's control side calls it
// (the app's entry point reaches it on the simulated desktop); the app's logic never does.
namespace ui {

// One line for a node, without its children: its kind and content, then its modifiers in
// the order applied, e.g. `Text "report.txt" headline lineLimit 1`. Texts show their
// localized text in double quotes, with `"`, `\` and control characters escaped.
std::string describe(const View& node);
// The whole tree, one line per node, indented two spaces a level. An empty view is no
// line at all.
std::vector<std::string> renderLines(const View& root);
// The text a text editor or text field edits; null for any other node.
const Binding<std::string>* textBinding(const View& node);

// Looks at and acts on the current tree of a hosting view (or on a fixed tree). Lookups
// answer paths, not nodes, because acting usually rebuilds the tree: look things up again
// after each action, or reuse a path when the action leaves the layout as it was. Every
// action acts on the tree as it is at that moment.
class ViewInspector {
public:
    // The host must outlive the inspector.
    explicit ViewInspector(const HostingView& host);
    // A tree nobody rebuilds. Its actions still reach the model it was built from.
    explicit ViewInspector(View root);

    std::shared_ptr<const View> tree() const;
    // The node at `path` (it keeps its whole tree alive), or nothing when no node is there.
    std::shared_ptr<const View> node(const ViewPath& path) const;

    // Finding, in drawing order (depth first, top to bottom). Empty views are never found.
    using Match = std::function<bool(const View&)>;
    std::vector<ViewPath> findAll(const Match& match) const;
    // The index-th (from 0) node that matches.
    std::optional<ViewPath> find(const Match& match, std::size_t index = 0) const;
    std::optional<ViewPath> find(ViewKind kind, std::size_t index = 0) const;
    // A text node showing exactly `text` (after localization).
    std::optional<ViewPath> findText(std::string_view text, std::size_t index = 0) const;
    std::optional<ViewPath> findImage(std::string_view systemName, std::size_t index = 0) const;

    // The font and foreground style a node is drawn with: its own, else the nearest
    // ancestor's, as styles pass down to the content of a container.
    std::optional<Font> font(const ViewPath& path) const;
    std::optional<ShapeStyle> foregroundStyle(const ViewPath& path) const;

    // What a text node shows, or a text editor's or text field's text.
    std::optional<std::string> text(const ViewPath& path) const;
    // The option a picker shows as chosen; nothing when no option matches its value.
    std::optional<std::string> selection(const ViewPath& picker) const;

    // A tap of `count` clicks on the node. The innermost of the node and its containers
    // with a tap gesture for that count handles it. Answers whether one did.
    bool tap(const ViewPath& path, int count = 1) const;
    // Chooses the picker option shown as `optionText`; false when the picker has none.
    bool choose(const ViewPath& picker, std::string_view optionText) const;
    // Types `text` at the end of an editor's (or a text field's) text, one keystroke per
    // character: each keystroke writes the whole new text through the binding.
    bool type(const ViewPath& editor, std::string_view text) const;
    // Pastes `text` at the end of an editor's text: a single change.
    bool paste(const ViewPath& editor, std::string_view text) const;
    // Presses delete `count` times at the end of an editor's text, a change per press.
    bool deleteBackward(const ViewPath& editor, std::size_t count = 1) const;

    // What a text field offers to complete its text with, best first.
    std::vector<std::string> completions(const ViewPath& field) const;
    // Chooses one of the field's completions, which replaces its text; false when the field
    // does not offer it.
    bool complete(const ViewPath& field, std::string_view completion) const;
    // Presses Return in a text field; false when the node is none.
    bool submit(const ViewPath& field) const;

    std::vector<std::string> render() const;

private:
    std::shared_ptr<const View> editor(const ViewPath& path) const;

    std::function<std::shared_ptr<const View>()> currentTree_;
};

} // namespace ui

} // namespace scrivlet
