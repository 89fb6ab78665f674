#include "Platform/ui/View.h"

#include "Platform/ui/Localization.h"

namespace scrivlet {

namespace ui {

std::string TextContent::resolved() const {
    return localized_ ? Localization::format(source_, arguments_) : source_;
}

void ViewList::append(View view) {
    if (!view.isEmpty()) {
        views_.push_back(std::move(view));
    }
}

void ViewList::append(std::vector<View> views) {
    for (View& view : views) {
        append(std::move(view));
    }
}

View::View(NodeContent content, std::vector<View> children)
    : content_(std::move(content)), children_(std::move(children)) {}

View View::modified(Modifier modifier) && {
    modifiers_.push_back(std::move(modifier));
    return std::move(*this);
}

View View::font(Font font) && {
    return std::move(*this).modified(FontModifier{font});
}

View View::foregroundStyle(HierarchicalStyle style) && {
    return std::move(*this).modified(ForegroundStyleModifier{style});
}

View View::foregroundStyle(Color color) && {
    return std::move(*this).modified(ForegroundStyleModifier{std::move(color)});
}

View View::lineLimit(std::optional<int> limit) && {
    return std::move(*this).modified(LineLimitModifier{limit});
}

View View::truncationMode(TruncationMode mode) && {
    return std::move(*this).modified(TruncationModeModifier{mode});
}

View View::padding() && {
    return std::move(*this).modified(PaddingModifier{std::nullopt});
}

View View::padding(double length) && {
    return std::move(*this).modified(PaddingModifier{length});
}

View View::frame(Frame frame) && {
    return std::move(*this).modified(FrameModifier{frame});
}

View View::scrollContentBackground(Visibility visibility) && {
    return std::move(*this).modified(ScrollContentBackgroundModifier{visibility});
}

View View::background(Color color) && {
    return std::move(*this).modified(BackgroundModifier{std::move(color)});
}

View View::clipShape(RoundedRectangle shape) && {
    return std::move(*this).modified(ClipShapeModifier{shape});
}

View View::labelsHidden() && {
    return std::move(*this).modified(LabelsHiddenModifier{});
}

View View::onTapGesture(int count, std::function<void()> action) && {
    tapGestures_.push_back(TapGesture{count, std::move(action)});
    return std::move(*this);
}

View EmptyView() {
    return View(EmptyNode{});
}

View ScrollView(Axis axis, bool showsIndicators, View content) {
    std::vector<View> children;
    if (!content.isEmpty()) {
        children.push_back(std::move(content));
    }
    return View(ScrollViewNode{axis, showsIndicators}, std::move(children));
}

View VStack(HorizontalAlignment alignment, std::optional<double> spacing, ViewList content) {
    return View(VStackNode{alignment, spacing}, std::move(content).take());
}

View HStack(VerticalAlignment alignment, std::optional<double> spacing, ViewList content) {
    return View(HStackNode{alignment, spacing}, std::move(content).take());
}

View Text(TextContent content) {
    return View(TextNode{std::move(content)});
}

View Image(std::string systemName) {
    return View(ImageNode{std::move(systemName)});
}

View Divider() {
    return View(DividerNode{});
}

View TextEditor(Binding<std::string> text) {
    return View(TextEditorNode{std::move(text)});
}

View TextField(TextContent prompt, Binding<std::string> text, std::vector<std::string> completions,
               std::function<void()> onSubmit) {
    return View(TextFieldNode{std::move(prompt), std::move(text), std::move(completions),
                              std::move(onSubmit)});
}

std::vector<const View*> chainTo(const View& root, const ViewPath& path) {
    std::vector<const View*> chain{&root};
    for (const std::size_t index : path) {
        const auto& children = chain.back()->children();
        if (index >= children.size()) {
            return {};
        }
        chain.push_back(&children[index]);
    }
    return chain;
}

} // namespace ui

} // namespace scrivlet
