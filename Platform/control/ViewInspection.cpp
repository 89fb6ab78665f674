#include "Platform/control/ViewInspection.h"

#include <cstdio>

namespace scrivlet {

namespace ui {

namespace {

const char* name(Font font) {
    switch (font) {
    case Font::largeTitle:
        return "largeTitle";
    case Font::title:
        return "title";
    case Font::title2:
        return "title2";
    case Font::title3:
        return "title3";
    case Font::headline:
        return "headline";
    case Font::subheadline:
        return "subheadline";
    case Font::body:
        return "body";
    case Font::callout:
        return "callout";
    case Font::footnote:
        return "footnote";
    case Font::caption:
        return "caption";
    case Font::caption2:
        return "caption2";
    }
    return "?";
}

const char* name(HierarchicalStyle style) {
    switch (style) {
    case HierarchicalStyle::primary:
        return "primary";
    case HierarchicalStyle::secondary:
        return "secondary";
    case HierarchicalStyle::tertiary:
        return "tertiary";
    case HierarchicalStyle::quaternary:
        return "quaternary";
    }
    return "?";
}

const char* name(HorizontalAlignment alignment) {
    switch (alignment) {
    case HorizontalAlignment::leading:
        return "leading";
    case HorizontalAlignment::center:
        return "center";
    case HorizontalAlignment::trailing:
        return "trailing";
    }
    return "?";
}

const char* name(VerticalAlignment alignment) {
    switch (alignment) {
    case VerticalAlignment::top:
        return "top";
    case VerticalAlignment::center:
        return "center";
    case VerticalAlignment::bottom:
        return "bottom";
    }
    return "?";
}

const char* name(TruncationMode mode) {
    switch (mode) {
    case TruncationMode::head:
        return "head";
    case TruncationMode::middle:
        return "middle";
    case TruncationMode::tail:
        return "tail";
    }
    return "?";
}

const char* name(Visibility visibility) {
    switch (visibility) {
    case Visibility::automatic:
        return "automatic";
    case Visibility::visible:
        return "visible";
    case Visibility::hidden:
        return "hidden";
    }
    return "?";
}

std::string number(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

std::string quoted(std::string_view text) {
    std::string result = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            result += "\\\"";
            break;
        case '\\':
            result += "\\\\";
            break;
        case '\n':
            result += "\\n";
            break;
        case '\t':
            result += "\\t";
            break;
        case '\r':
            result += "\\r";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(c));
                result += escape;
            } else {
                result += c;
            }
        }
    }
    return result + '"';
}

std::string describeStyle(const ShapeStyle& style) {
    if (const auto* hierarchical = std::get_if<HierarchicalStyle>(&style)) {
        return name(*hierarchical);
    }
    return std::get<Color>(style).name;
}

std::string describeSpacing(const std::optional<double>& spacing) {
    return spacing ? " spacing " + number(*spacing) : "";
}

struct ContentDescriber {
    std::string operator()(const EmptyNode&) const { return "EmptyView"; }
    std::string operator()(const ScrollViewNode& node) const {
        return std::string("ScrollView ") +
               (node.axis == Axis::vertical ? "vertical" : "horizontal") +
               (node.showsIndicators ? " showsIndicators" : " hidesIndicators");
    }
    std::string operator()(const VStackNode& node) const {
        return std::string("VStack ") + name(node.alignment) + describeSpacing(node.spacing);
    }
    std::string operator()(const HStackNode& node) const {
        return std::string("HStack ") + name(node.alignment) + describeSpacing(node.spacing);
    }
    std::string operator()(const TextNode& node) const {
        return "Text " + quoted(node.content.resolved());
    }
    std::string operator()(const ImageNode& node) const { return "Image " + node.systemName; }
    std::string operator()(const DividerNode&) const { return "Divider"; }
    std::string operator()(const PickerNode& node) const {
        std::string line = "Picker " + quoted(node.title.resolved());
        const auto selected = node.selectedIndex ? node.selectedIndex() : std::nullopt;
        line += selected && *selected < node.options.size()
                    ? " selection " + quoted(node.options[*selected].resolved())
                    : std::string(" no selection");
        line += " options [";
        for (std::size_t index = 0; index < node.options.size(); ++index) {
            line += (index ? ", " : "") + quoted(node.options[index].resolved());
        }
        return line + "]";
    }
    std::string operator()(const TextEditorNode& node) const {
        return "TextEditor " + quoted(node.text.get());
    }
    std::string operator()(const TextFieldNode& node) const {
        std::string line =
            "TextField " + quoted(node.prompt.resolved()) + " text " + quoted(node.text.get());
        if (!node.completions.empty()) {
            line += " completions [";
            for (std::size_t index = 0; index < node.completions.size(); ++index) {
                line += (index ? ", " : "") + quoted(node.completions[index]);
            }
            line += "]";
        }
        return line;
    }
};

struct ModifierDescriber {
    std::string operator()(const FontModifier& m) const { return name(m.font); }
    std::string operator()(const ForegroundStyleModifier& m) const {
        return describeStyle(m.style);
    }
    std::string operator()(const LineLimitModifier& m) const {
        return "lineLimit " + (m.limit ? std::to_string(*m.limit) : std::string("none"));
    }
    std::string operator()(const TruncationModeModifier& m) const {
        return std::string("truncation ") + name(m.mode);
    }
    std::string operator()(const PaddingModifier& m) const {
        return m.length ? "padding " + number(*m.length) : "padding";
    }
    std::string operator()(const FrameModifier& m) const {
        std::string text = "frame";
        const auto add = [&](const char* label, const std::optional<double>& value) {
            if (value) {
                text += std::string(" ") + label + " " + number(*value);
            }
        };
        add("minWidth", m.frame.minWidth);
        add("minHeight", m.frame.minHeight);
        add("maxWidth", m.frame.maxWidth);
        add("maxHeight", m.frame.maxHeight);
        return text;
    }
    std::string operator()(const ScrollContentBackgroundModifier& m) const {
        return std::string("scrollContentBackground ") + name(m.visibility);
    }
    std::string operator()(const BackgroundModifier& m) const {
        return "background " + m.color.name;
    }
    std::string operator()(const ClipShapeModifier& m) const {
        return "clipShape roundedRectangle " + number(m.shape.cornerRadius) +
               (m.shape.style == RoundedCornerStyle::continuous ? " continuous" : " circular");
    }
    std::string operator()(const LabelsHiddenModifier&) const { return "labelsHidden"; }
};

void renderInto(const View& node, std::size_t depth, std::vector<std::string>& lines) {
    if (node.isEmpty()) {
        return;
    }
    lines.push_back(std::string(depth * 2, ' ') + describe(node));
    for (const View& child : node.children()) {
        renderInto(child, depth + 1, lines);
    }
}

void collect(const View& node, ViewPath& path, const ViewInspector::Match& match,
             std::vector<ViewPath>& found) {
    if (node.isEmpty()) {
        return;
    }
    if (match(node)) {
        found.push_back(path);
    }
    for (std::size_t index = 0; index < node.children().size(); ++index) {
        path.push_back(index);
        collect(node.children()[index], path, match, found);
        path.pop_back();
    }
}

// Splits UTF-8 text into characters (code points), so a keystroke never leaves half a
// character in the text. A stray byte counts as a character of its own.
std::vector<std::string_view> characters(std::string_view text) {
    std::vector<std::string_view> result;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto lead = static_cast<unsigned char>(text[pos]);
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 1;
        for (std::size_t next = 1; next < length; ++next) {
            if (pos + next >= text.size() ||
                (static_cast<unsigned char>(text[pos + next]) & 0xC0) != 0x80) {
                length = 1;
                break;
            }
        }
        result.push_back(text.substr(pos, length));
        pos += length;
    }
    return result;
}

// Drops the last character of UTF-8 text.
void dropLastCharacter(std::string& text) {
    std::size_t end = text.size();
    while (end > 0) {
        --end;
        if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80) {
            break;
        }
    }
    text.erase(end);
}

} // namespace

const Binding<std::string>* textBinding(const View& node) {
    if (const auto* editorNode = node.as<TextEditorNode>()) {
        return &editorNode->text;
    }
    if (const auto* fieldNode = node.as<TextFieldNode>()) {
        return &fieldNode->text;
    }
    return nullptr;
}

std::string describe(const View& node) {
    std::string line = std::visit(ContentDescriber{}, node.content());
    for (const Modifier& modifier : node.modifiers()) {
        line += ' ' + std::visit(ModifierDescriber{}, modifier);
    }
    return line;
}

std::vector<std::string> renderLines(const View& root) {
    std::vector<std::string> lines;
    renderInto(root, 0, lines);
    return lines;
}

ViewInspector::ViewInspector(const HostingView& host)
    : currentTree_([&host] { return host.tree(); }) {}

ViewInspector::ViewInspector(View root)
    : currentTree_([tree = std::make_shared<const View>(std::move(root))] { return tree; }) {}

std::shared_ptr<const View> ViewInspector::tree() const {
    return currentTree_();
}

std::shared_ptr<const View> ViewInspector::node(const ViewPath& path) const {
    auto root = tree();
    const auto chain = chainTo(*root, path);
    if (chain.empty() || chain.back()->isEmpty()) {
        return nullptr;
    }
    return std::shared_ptr<const View>(root, chain.back());
}

std::vector<ViewPath> ViewInspector::findAll(const Match& match) const {
    std::vector<ViewPath> found;
    ViewPath path;
    collect(*tree(), path, match, found);
    return found;
}

std::optional<ViewPath> ViewInspector::find(const Match& match, std::size_t index) const {
    auto found = findAll(match);
    if (index >= found.size()) {
        return std::nullopt;
    }
    return std::move(found[index]);
}

std::optional<ViewPath> ViewInspector::find(ViewKind kind, std::size_t index) const {
    return find([kind](const View& node) { return node.kind() == kind; }, index);
}

std::optional<ViewPath> ViewInspector::findText(std::string_view text, std::size_t index) const {
    return find(
        [text](const View& node) {
            const auto* textNode = node.as<TextNode>();
            return textNode && textNode->content.resolved() == text;
        },
        index);
}

std::optional<ViewPath> ViewInspector::findImage(std::string_view systemName,
                                                 std::size_t index) const {
    return find(
        [systemName](const View& node) {
            const auto* image = node.as<ImageNode>();
            return image && image->systemName == systemName;
        },
        index);
}

std::optional<Font> ViewInspector::font(const ViewPath& path) const {
    const auto root = tree();
    const auto chain = chainTo(*root, path);
    for (auto node = chain.rbegin(); node != chain.rend(); ++node) {
        if (const auto* modifier = (*node)->modifier<FontModifier>()) {
            return modifier->font;
        }
    }
    return std::nullopt;
}

std::optional<ShapeStyle> ViewInspector::foregroundStyle(const ViewPath& path) const {
    const auto root = tree();
    const auto chain = chainTo(*root, path);
    for (auto node = chain.rbegin(); node != chain.rend(); ++node) {
        if (const auto* modifier = (*node)->modifier<ForegroundStyleModifier>()) {
            return modifier->style;
        }
    }
    return std::nullopt;
}

std::optional<std::string> ViewInspector::text(const ViewPath& path) const {
    const auto found = node(path);
    if (!found) {
        return std::nullopt;
    }
    if (const auto* textNode = found->as<TextNode>()) {
        return textNode->content.resolved();
    }
    if (const auto* binding = textBinding(*found)) {
        return binding->get();
    }
    return std::nullopt;
}

std::optional<std::string> ViewInspector::selection(const ViewPath& picker) const {
    const auto found = node(picker);
    const auto* pickerNode = found ? found->as<PickerNode>() : nullptr;
    if (!pickerNode || !pickerNode->selectedIndex) {
        return std::nullopt;
    }
    const auto index = pickerNode->selectedIndex();
    if (!index || *index >= pickerNode->options.size()) {
        return std::nullopt;
    }
    return pickerNode->options[*index].resolved();
}

bool ViewInspector::tap(const ViewPath& path, int count) const {
    // Held for the whole tap: the action may rebuild the host's tree under us.
    const auto root = tree();
    const auto chain = chainTo(*root, path);
    if (chain.empty() || chain.back()->isEmpty()) {
        return false;
    }
    for (auto node = chain.rbegin(); node != chain.rend(); ++node) {
        for (const TapGesture& gesture : (*node)->tapGestures()) {
            if (gesture.count == count && gesture.action) {
                gesture.action();
                return true;
            }
        }
    }
    return false;
}

bool ViewInspector::choose(const ViewPath& picker, std::string_view optionText) const {
    const auto found = node(picker);
    const auto* pickerNode = found ? found->as<PickerNode>() : nullptr;
    if (!pickerNode || !pickerNode->select) {
        return false;
    }
    for (std::size_t index = 0; index < pickerNode->options.size(); ++index) {
        if (pickerNode->options[index].resolved() == optionText) {
            pickerNode->select(index);
            return true;
        }
    }
    return false;
}

std::shared_ptr<const View> ViewInspector::editor(const ViewPath& path) const {
    auto found = node(path);
    return found && textBinding(*found) ? found : nullptr;
}

std::vector<std::string> ViewInspector::completions(const ViewPath& field) const {
    const auto found = node(field);
    const auto* fieldNode = found ? found->as<TextFieldNode>() : nullptr;
    return fieldNode ? fieldNode->completions : std::vector<std::string>();
}

bool ViewInspector::complete(const ViewPath& field, std::string_view completion) const {
    const auto found = node(field);
    const auto* fieldNode = found ? found->as<TextFieldNode>() : nullptr;
    if (!fieldNode) {
        return false;
    }
    for (const std::string& offered : fieldNode->completions) {
        if (offered == completion) {
            fieldNode->text.set(offered);
            return true;
        }
    }
    return false;
}

bool ViewInspector::submit(const ViewPath& field) const {
    const auto found = node(field);
    const auto* fieldNode = found ? found->as<TextFieldNode>() : nullptr;
    if (!fieldNode || !fieldNode->submit) {
        return false;
    }
    fieldNode->submit();
    return true;
}

bool ViewInspector::type(const ViewPath& editorPath, std::string_view text) const {
    if (!editor(editorPath)) {
        return false;
    }
    for (const std::string_view character : characters(text)) {
        // Each keystroke finds the editor again: the previous one rebuilt the tree.
        const auto current = editor(editorPath);
        if (!current) {
            return false;
        }
        const auto& binding = *textBinding(*current);
        binding.set(binding.get() + std::string(character));
    }
    return true;
}

bool ViewInspector::paste(const ViewPath& editorPath, std::string_view text) const {
    const auto current = editor(editorPath);
    if (!current) {
        return false;
    }
    const auto& binding = *textBinding(*current);
    binding.set(binding.get() + std::string(text));
    return true;
}

bool ViewInspector::deleteBackward(const ViewPath& editorPath, std::size_t count) const {
    if (!editor(editorPath)) {
        return false;
    }
    for (std::size_t press = 0; press < count; ++press) {
        const auto current = editor(editorPath);
        if (!current) {
            return false;
        }
        const auto& binding = *textBinding(*current);
        std::string text = binding.get();
        if (text.empty()) {
            // Deleting in an empty editor changes nothing, so it writes nothing either.
            continue;
        }
        dropLastCharacter(text);
        binding.set(std::move(text));
    }
    return true;
}

std::vector<std::string> ViewInspector::render() const {
    return renderLines(*tree());
}

} // namespace ui

} // namespace scrivlet
