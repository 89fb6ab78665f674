#include "Platform/backends/x11/X11Widgets.h"

#include "Platform/base/RunLoop.h"
#include "Platform/ui/HostingView.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QStringListModel>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>
#include <map>
#include <utility>

namespace scrivlet::x11 {

namespace {

using ui::View;
using ui::ViewKind;
using ui::ViewPath;

// Work started by the user runs as an event of the main run loop, like every other entry
// point of the app.
void onMainLoop(std::function<void()> work) {
    if (RunLoop::hasMain()) {
        RunLoop::main().async(std::move(work));
    }
}

double pointSize(ui::Font font) {
    switch (font) {
    case ui::Font::largeTitle:
        return 24;
    case ui::Font::title:
        return 20;
    case ui::Font::title2:
        return 16;
    case ui::Font::title3:
        return 14;
    case ui::Font::headline:
    case ui::Font::body:
        return 11;
    case ui::Font::callout:
        return 10.5;
    case ui::Font::subheadline:
    case ui::Font::footnote:
        return 9.5;
    case ui::Font::caption:
        return 9;
    case ui::Font::caption2:
        return 8.5;
    }
    return 11;
}

QColor colorNamed(const std::string& name, const QPalette& palette) {
    static const std::map<std::string, QColor> palettes{
        {"yellow", QColor(0xF5, 0xC4, 0x00)}, {"orange", QColor(0xFF, 0x95, 0x00)},
        {"red", QColor(0xFF, 0x3B, 0x30)},    {"green", QColor(0x34, 0xC7, 0x59)},
        {"blue", QColor(0x00, 0x7A, 0xFF)},   {"gray", QColor(0x8E, 0x8E, 0x93)},
    };
    if (const auto found = palettes.find(name); found != palettes.end()) {
        return found->second;
    }
    if (name == "controlBackgroundColor") {
        return palette.color(QPalette::Base);
    }
    return palette.color(QPalette::WindowText);
}

QColor colorOf(const ui::ShapeStyle& style, const QPalette& palette) {
    if (const auto* color = std::get_if<ui::Color>(&style)) {
        return colorNamed(color->name, palette);
    }
    QColor text = palette.color(QPalette::WindowText);
    switch (std::get<ui::HierarchicalStyle>(style)) {
    case ui::HierarchicalStyle::primary:
        break;
    case ui::HierarchicalStyle::secondary:
        text.setAlphaF(0.6);
        break;
    case ui::HierarchicalStyle::tertiary:
        text.setAlphaF(0.4);
        break;
    case ui::HierarchicalStyle::quaternary:
        text.setAlphaF(0.25);
        break;
    }
    return text;
}

// System symbols: a document is the style's file icon, the rest are drawn as the characters
// that look like them (the icon theme has no names for most of them).
void drawSymbol(QLabel* label, const std::string& systemName) {
    if (systemName == "doc.fill") {
        const int side = label->fontMetrics().height() + 6;
        label->setPixmap(label->style()->standardIcon(QStyle::SP_FileIcon).pixmap(side, side));
        return;
    }
    static const std::map<std::string, QString> glyphs{
        {"star.fill", QString::fromUtf8("\u2605")},
        {"star", QString::fromUtf8("\u2606")},
    };
    const auto found = glyphs.find(systemName);
    const QString glyph = found == glyphs.end() ? QString::fromUtf8("\u25A1") : found->second;
    if (label->text() != glyph) {
        label->setText(glyph);
    }
}

// A one-line text loses its start, middle or end to fit the panel, as its truncation mode says.
constexpr int oneLineWidth = 220;
Qt::TextElideMode elideMode(const View& node) {
    const auto* truncation = node.modifier<ui::TruncationModeModifier>();
    if (truncation == nullptr) {
        return Qt::ElideRight;
    }
    switch (truncation->mode) {
    case ui::TruncationMode::head:
        return Qt::ElideLeft;
    case ui::TruncationMode::middle:
        return Qt::ElideMiddle;
    case ui::TruncationMode::tail:
        return Qt::ElideRight;
    }
    return Qt::ElideRight;
}

// The styles that pass down from containers to their content.
struct Inherited {
    std::optional<ui::Font> font;
    std::optional<ui::ShapeStyle> foreground;
};

Inherited inheritedBy(const View& node, Inherited outer) {
    if (const auto* font = node.modifier<ui::FontModifier>()) {
        outer.font = font->font;
    }
    if (const auto* style = node.modifier<ui::ForegroundStyleModifier>()) {
        outer.foreground = style->style;
    }
    return outer;
}

std::vector<const View*> visibleChildren(const View& node) {
    std::vector<const View*> children;
    for (const View& child : node.children()) {
        if (!child.isEmpty()) {
            children.push_back(&child);
        }
    }
    return children;
}

// Two trees draw with the same widgets when their kinds match node for node.
bool sameShape(const View& a, const View& b) {
    if (a.kind() != b.kind()) {
        return false;
    }
    if (const auto* pa = a.as<ui::PickerNode>()) {
        if (pa->options != b.as<ui::PickerNode>()->options) {
            return false;
        }
    }
    const auto ca = visibleChildren(a);
    const auto cb = visibleChildren(b);
    if (ca.size() != cb.size()) {
        return false;
    }
    for (std::size_t i = 0; i < ca.size(); ++i) {
        if (!sameShape(*ca[i], *cb[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

struct PanelWindow::Widgets {
    std::weak_ptr<Panel> panel;
    const Panel* shown = nullptr;
    QPointer<QWidget> window;
    QLabel* title = nullptr;
    QVBoxLayout* contentLayout = nullptr;
    QPointer<QWidget> content;
    std::shared_ptr<const View> drawnTree;

    // Each drawn node's widget, by the node's path, so edits find their node again.
    struct Drawn {
        ViewKind kind;
        QPointer<QWidget> widget;
    };
    std::map<ViewPath, Drawn> drawn;

    std::shared_ptr<const View> currentTree() const {
        const std::shared_ptr<Panel> owner = panel.lock();
        const auto* host =
            owner ? dynamic_cast<const ui::HostingView*>(owner->contentView().get()) : nullptr;
        return host != nullptr ? host->tree() : nullptr;
    }

    // The node at `path` in the tree as it is now, kept alive with its tree.
    std::shared_ptr<const View> nodeAt(const ViewPath& path) const {
        std::shared_ptr<const View> root = currentTree();
        if (!root) {
            return nullptr;
        }
        const auto chain = chainTo(*root, path);
        return chain.empty() ? nullptr : std::shared_ptr<const View>(root, chain.back());
    }

    void tap(const ViewPath& path, int count) {
        onMainLoop([this, guard = QPointer<QWidget>(window), path, count] {
            if (!guard) {
                return;
            }
            // Held for the whole tap: the action may rebuild the tree under us.
            const std::shared_ptr<const View> root = currentTree();
            if (!root) {
                return;
            }
            const auto chain = chainTo(*root, path);
            for (auto node = chain.rbegin(); node != chain.rend(); ++node) {
                for (const ui::TapGesture& gesture : (*node)->tapGestures()) {
                    if (gesture.count == count && gesture.action) {
                        gesture.action();
                        return;
                    }
                }
            }
        });
    }

    // The user clicked into a text editor: from now on the panel may have the keyboard.
    void acceptFocus(QWidget* editor) {
        if (QWindow* handle = window->windowHandle()) {
            handle->setFlag(Qt::WindowDoesNotAcceptFocus, false);
            handle->requestActivate();
        }
        editor->setFocus(Qt::MouseFocusReason);
    }

    void refuseFocus() {
        if (QWindow* handle = window ? window->windowHandle() : nullptr) {
            handle->setFlag(Qt::WindowDoesNotAcceptFocus, true);
        }
    }

    class ClickFilter final : public QObject {
    public:
        // Owned by the widget it watches.
        // An editor's filter watches the widget that takes the clicks; `focusTarget` is the
        // one that takes the keyboard (the parent of the watched viewport unless given).
        ClickFilter(QObject* watched, Widgets& owner, ViewPath path, bool editor,
                    QWidget* focusTarget = nullptr)
            : QObject(watched), owner_(owner), path_(std::move(path)), editor_(editor),
              focusTarget_(focusTarget) {}

    protected:
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::MouseButtonPress && editor_) {
                owner_.acceptFocus(focusTarget_ != nullptr
                                       ? focusTarget_.data()
                                       : qobject_cast<QWidget*>(watched->parent()));
            } else if (event->type() == QEvent::MouseButtonRelease && !editor_) {
                owner_.tap(path_, 1);
                return true;
            } else if (event->type() == QEvent::MouseButtonDblClick && !editor_) {
                owner_.tap(path_, 2);
                return true;
            }
            return false;
        }

    private:
        Widgets& owner_;
        ViewPath path_;
        bool editor_;
        QPointer<QWidget> focusTarget_;
    };

    bool hasTapGesture(const std::vector<const View*>& chain) const {
        for (const View* node : chain) {
            if (!node->tapGestures().empty()) {
                return true;
            }
        }
        return false;
    }

    void style(QWidget* widget, const View& node, const Inherited& inherited) {
        QFont font = widget->font();
        const ui::Font textStyle = inherited.font.value_or(ui::Font::body);
        font.setPointSizeF(pointSize(textStyle));
        font.setBold(textStyle == ui::Font::headline);
        widget->setFont(font);
        QPalette palette = widget->palette();
        if (inherited.foreground) {
            palette.setColor(QPalette::WindowText, colorOf(*inherited.foreground, palette));
            palette.setColor(QPalette::Text, colorOf(*inherited.foreground, palette));
        }
        if (const auto* background = node.modifier<ui::BackgroundModifier>()) {
            palette.setColor(QPalette::Base, colorNamed(background->color.name, palette));
            palette.setColor(QPalette::Window, colorNamed(background->color.name, palette));
        }
        widget->setPalette(palette);
        if (const auto* frame = node.modifier<ui::FrameModifier>()) {
            if (frame->frame.minHeight) {
                widget->setMinimumHeight(static_cast<int>(*frame->frame.minHeight));
            }
            if (frame->frame.minWidth) {
                widget->setMinimumWidth(static_cast<int>(*frame->frame.minWidth));
            }
        }
    }

    static int padding(const View& node) {
        const auto* padding = node.modifier<ui::PaddingModifier>();
        if (padding == nullptr) {
            return 0;
        }
        return static_cast<int>(padding->length.value_or(16));
    }

    // Fills the widget of a node from the node: what it shows, not what it is.
    void fill(QWidget* widget, const View& node, const Inherited& inherited) {
        style(widget, node, inherited);
        if (const auto* text = node.as<ui::TextNode>()) {
            auto* label = static_cast<QLabel*>(widget);
            QString resolved = QString::fromStdString(text->content.resolved());
            if (const auto* limit = node.modifier<ui::LineLimitModifier>();
                limit && limit->limit == 1) {
                label->setToolTip(resolved);
                resolved = label->fontMetrics().elidedText(resolved, elideMode(node), oneLineWidth);
            }
            if (label->text() != resolved) {
                label->setText(resolved);
            }
        } else if (const auto* image = node.as<ui::ImageNode>()) {
            drawSymbol(static_cast<QLabel*>(widget), image->systemName);
        } else if (const auto* picker = node.as<ui::PickerNode>()) {
            auto* box = static_cast<QComboBox*>(widget);
            const auto selected = picker->selectedIndex ? picker->selectedIndex() : std::nullopt;
            const QSignalBlocker quiet(box);
            box->setCurrentIndex(selected ? static_cast<int>(*selected) : -1);
        } else if (const auto* editor = node.as<ui::TextEditorNode>()) {
            auto* edit = static_cast<QPlainTextEdit*>(widget);
            const QString bound = QString::fromStdString(editor->text.get());
            // The user's own typing is already there; rewriting it would move the cursor.
            if (edit->toPlainText() != bound) {
                const QSignalBlocker quiet(edit);
                edit->setPlainText(bound);
            }
        } else if (const auto* field = node.as<ui::TextFieldNode>()) {
            fillField(static_cast<QLineEdit*>(widget), *field);
        }
    }

    static void fillField(QLineEdit* line, const ui::TextFieldNode& field) {
        line->setPlaceholderText(QString::fromStdString(field.prompt.resolved()));
        const QString bound = QString::fromStdString(field.text.get());
        if (line->text() != bound) {
            const QSignalBlocker quiet(line);
            line->setText(bound);
        }
        QStringList offered;
        for (const std::string& completion : field.completions) {
            offered << QString::fromStdString(completion);
        }
        QCompleter* completer = line->completer();
        auto* model =
            completer != nullptr ? qobject_cast<QStringListModel*>(completer->model()) : nullptr;
        if (model == nullptr || model->stringList() == offered) {
            return;
        }
        model->setStringList(offered);
        // The model's list is already the answer for the text typed; show it as it is.
        if (offered.isEmpty() || !line->hasFocus()) {
            completer->popup()->hide();
        } else {
            completer->complete();
        }
    }

    QLineEdit* makeField(const ViewPath& here) {
        auto* line = new QLineEdit;
        auto* completer = new QCompleter(new QStringListModel(line), line);
        completer->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
        completer->setCaseSensitivity(Qt::CaseInsensitive);
        line->setCompleter(completer);
        auto setText = [this, here](const QString& text) {
            onMainLoop([this, guard = QPointer<QWidget>(window), here, value = text.toStdString()] {
                const auto current = guard ? nodeAt(here) : nullptr;
                if (const auto* field = current ? current->as<ui::TextFieldNode>() : nullptr) {
                    field->text.set(value);
                }
            });
        };
        QObject::connect(line, &QLineEdit::textEdited, setText);
        QObject::connect(completer, QOverload<const QString&>::of(&QCompleter::activated), setText);
        QObject::connect(line, &QLineEdit::returnPressed, [this, here, line] {
            // The text as shown goes first: a completion may have changed it without an edit.
            onMainLoop([this, guard = QPointer<QWidget>(window), here,
                        value = line->text().toStdString()] {
                const auto current = guard ? nodeAt(here) : nullptr;
                const auto* field = current ? current->as<ui::TextFieldNode>() : nullptr;
                if (field == nullptr) {
                    return;
                }
                if (field->text.get() != value) {
                    field->text.set(value);
                }
                // Setting the text rebuilt the tree: submit through the node as it is now.
                const auto latest = nodeAt(here);
                const auto* now = latest ? latest->as<ui::TextFieldNode>() : nullptr;
                if (now != nullptr && now->submit) {
                    now->submit();
                }
            });
        });
        line->installEventFilter(new ClickFilter(line, *this, here, true, line));
        return line;
    }

    QWidget* build(const View& node, ViewPath& path, std::vector<const View*>& chain,
                   const Inherited& outer) {
        const Inherited inherited = inheritedBy(node, outer);
        QWidget* widget = nullptr;
        const ViewPath here = path;
        switch (node.kind()) {
        case ViewKind::empty:
            return nullptr;
        case ViewKind::scrollView: {
            auto* area = new QScrollArea;
            area->setWidgetResizable(true);
            area->setFrameShape(QFrame::NoFrame);
            widget = area;
            break;
        }
        case ViewKind::vStack:
        case ViewKind::hStack: {
            widget = new QWidget;
            QBoxLayout* layout = nullptr;
            if (const auto* v = node.as<ui::VStackNode>()) {
                layout = new QVBoxLayout(widget);
                layout->setSpacing(static_cast<int>(v->spacing.value_or(8)));
            } else {
                layout = new QHBoxLayout(widget);
                layout->setSpacing(
                    static_cast<int>(node.as<ui::HStackNode>()->spacing.value_or(8)));
            }
            const int margin = padding(node);
            layout->setContentsMargins(margin, margin, margin, margin);
            break;
        }
        case ViewKind::text:
        case ViewKind::image:
            widget = new QLabel;
            break;
        case ViewKind::divider: {
            auto* line = new QFrame;
            line->setFrameShape(QFrame::HLine);
            line->setFrameShadow(QFrame::Sunken);
            widget = line;
            break;
        }
        case ViewKind::picker: {
            auto* box = new QComboBox;
            for (const ui::TextContent& option : node.as<ui::PickerNode>()->options) {
                box->addItem(QString::fromStdString(option.resolved()));
            }
            QObject::connect(
                box, QOverload<int>::of(&QComboBox::activated), [this, here](int index) {
                    onMainLoop([this, guard = QPointer<QWidget>(window), here, index] {
                        const auto current = guard ? nodeAt(here) : nullptr;
                        const auto* picker = current ? current->as<ui::PickerNode>() : nullptr;
                        if (picker && picker->select && index >= 0 &&
                            static_cast<std::size_t>(index) < picker->options.size()) {
                            picker->select(static_cast<std::size_t>(index));
                        }
                    });
                });
            widget = box;
            break;
        }
        case ViewKind::textEditor: {
            auto* edit = new QPlainTextEdit;
            edit->setFrameShape(QFrame::NoFrame);
            // Every change writes the whole text through the editor's binding, as a keystroke does.
            QObject::connect(edit, &QPlainTextEdit::textChanged, [this, here, edit] {
                onMainLoop([this, guard = QPointer<QWidget>(window), here,
                            text = edit->toPlainText().toStdString()] {
                    const auto current = guard ? nodeAt(here) : nullptr;
                    if (const auto* editor =
                            current ? current->as<ui::TextEditorNode>() : nullptr) {
                        editor->text.set(text);
                    }
                });
            });
            edit->viewport()->installEventFilter(
                new ClickFilter(edit->viewport(), *this, here, true));
            widget = edit;
            break;
        }
        case ViewKind::textField:
            widget = makeField(here);
            break;
        }
        fill(widget, node, inherited);
        drawn[here] = Drawn{node.kind(), widget};
        chain.push_back(&node);
        if (!node.tapGestures().empty() ||
            (node.kind() != ViewKind::vStack && node.kind() != ViewKind::hStack &&
             hasTapGesture(chain))) {
            widget->installEventFilter(new ClickFilter(widget, *this, here, false));
            widget->setCursor(Qt::PointingHandCursor);
        }
        for (std::size_t index = 0; index < node.children().size(); ++index) {
            path.push_back(index);
            QWidget* child = build(node.children()[index], path, chain, inherited);
            path.pop_back();
            if (child == nullptr) {
                continue;
            }
            if (auto* area = qobject_cast<QScrollArea*>(widget)) {
                area->setWidget(child);
            } else if (auto* layout = qobject_cast<QBoxLayout*>(widget->layout())) {
                const auto* v = node.as<ui::VStackNode>();
                Qt::Alignment alignment = {};
                if (v != nullptr && v->alignment == ui::HorizontalAlignment::leading) {
                    alignment = Qt::AlignLeft;
                } else if (v != nullptr && v->alignment == ui::HorizontalAlignment::trailing) {
                    alignment = Qt::AlignRight;
                }
                // Editors and rules take the whole width; labels keep to their side.
                const bool stretches = child->inherits("QPlainTextEdit") ||
                                       child->inherits("QLineEdit") ||
                                       (child->inherits("QFrame") && !child->inherits("QLabel"));
                layout->addWidget(child, 0, stretches ? Qt::Alignment() : alignment);
            }
        }
        if (auto* layout = qobject_cast<QHBoxLayout*>(widget->layout())) {
            layout->addStretch();
        }
        chain.pop_back();
        return widget;
    }

    // Brings the drawn widgets in step with `tree`, node for node; the shape is the same.
    void update(const View& node, ViewPath& path, const Inherited& outer) {
        const Inherited inherited = inheritedBy(node, outer);
        if (const auto found = drawn.find(path); found != drawn.end() && found->second.widget) {
            fill(found->second.widget, node, inherited);
        }
        for (std::size_t index = 0; index < node.children().size(); ++index) {
            path.push_back(index);
            update(node.children()[index], path, inherited);
            path.pop_back();
        }
    }

    void draw() {
        std::shared_ptr<const View> tree = currentTree();
        if (tree == drawnTree) {
            return;
        }
        ViewPath path;
        if (tree && drawnTree && content && sameShape(*tree, *drawnTree)) {
            update(*tree, path, {});
            drawnTree = std::move(tree);
            return;
        }
        // Adding a tag rebuilds the panel; the field the user types in keeps the keyboard.
        const bool fieldHadFocus =
            qobject_cast<QLineEdit*>(QApplication::focusWidget()) != nullptr && content &&
            content->isAncestorOf(QApplication::focusWidget());
        drawn.clear();
        if (content) {
            content->hide();
            content->deleteLater();
        }
        drawnTree = tree;
        if (!tree) {
            return;
        }
        std::vector<const View*> chain;
        content = build(*tree, path, chain, {});
        if (content) {
            contentLayout->addWidget(content, 1);
        }
        if (fieldHadFocus) {
            focusFirstField();
        }
    }

    void focusFirstField() {
        for (const auto& [path, entry] : drawn) {
            if (entry.kind == ViewKind::textField && entry.widget) {
                entry.widget->setFocus(Qt::OtherFocusReason);
                return;
            }
        }
    }
};

PanelWindow::PanelWindow(const std::shared_ptr<Panel>& panel)
    : widgets_(std::make_unique<Widgets>()) {
    Widgets& w = *widgets_;
    w.panel = panel;
    w.shown = panel.get();
    auto* window =
        new QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                 Qt::WindowDoesNotAcceptFocus);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setWindowTitle(QString::fromStdString(panel->title()));
    window->setAutoFillBackground(true);
    w.window = window;

    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    // The frameless window draws its own title bar: its title and the close button.
    auto* titleBar = new QWidget;
    auto* titleLayout = new QHBoxLayout(titleBar);
    titleLayout->setContentsMargins(8, 4, 4, 4);
    auto* title = new QLabel;
    title->setObjectName("title");
    w.title = title;
    auto* close = new QToolButton;
    close->setObjectName("close");
    close->setText(QString::fromUtf8("\u00D7"));
    close->setAutoRaise(true);
    close->setFocusPolicy(Qt::NoFocus);
    QObject::connect(close, &QToolButton::clicked, [weak = w.panel] {
        onMainLoop([weak] {
            if (const std::shared_ptr<Panel> owner = weak.lock()) {
                owner->close();
            }
        });
    });
    titleLayout->addWidget(title, 1);
    titleLayout->addWidget(close);
    layout->addWidget(titleBar);
    w.contentLayout = layout;
    w.draw();
}

PanelWindow::~PanelWindow() {
    delete widgets_->window.data();
}

bool PanelWindow::shows(const Panel& panel) const {
    return widgets_->shown == &panel && !widgets_->panel.expired();
}

bool PanelWindow::isAlive() const {
    return !widgets_->panel.expired();
}

void PanelWindow::apply(PanelChange change, const CoordinateSpace& space) {
    Widgets& w = *widgets_;
    const std::shared_ptr<Panel> panel = w.panel.lock();
    if (!panel || !w.window) {
        return;
    }
    switch (change) {
    case PanelChange::frame: {
        const CGRect root = space.rootFromScreens(panel->frame());
        w.window->setGeometry(static_cast<int>(root.minX()), static_cast<int>(root.minY()),
                              static_cast<int>(root.width()), static_cast<int>(root.height()));
        break;
    }
    case PanelChange::alpha:
        w.window->setWindowOpacity(panel->alphaValue());
        break;
    case PanelChange::orderedFront:
        w.title->setText(QString::fromStdString(panel->title()));
        w.window->setWindowTitle(QString::fromStdString(panel->title()));
        w.draw();
        w.window->show();
        w.window->raise();
        break;
    case PanelChange::orderedOut:
        w.window->hide();
        w.refuseFocus();
        break;
    }
}

void PanelWindow::refreshContent() {
    widgets_->draw();
}

unsigned long PanelWindow::windowId() const {
    const Widgets& w = *widgets_;
    return w.window && w.window->isVisible() ? static_cast<unsigned long>(w.window->winId()) : 0;
}

struct TrayIcons::Icons {
    struct Tray {
        Tray() = default;
        Tray(Tray&&) = default;
        Tray& operator=(Tray&&) = default;
        Tray(const Tray&) = delete;
        Tray& operator=(const Tray&) = delete;
        // The menu's actions go before the menu: only removing an action deletes the item the
        // tray's D-Bus menu made for it.
        ~Tray() {
            if (icon) {
                icon->hide();
            }
            if (menu) {
                menu->clear();
            }
        }

        std::weak_ptr<StatusItem> item;
        std::shared_ptr<Menu> menuShown;
        std::unique_ptr<QSystemTrayIcon> icon;
        std::unique_ptr<QMenu> menu;
        std::vector<std::pair<QAction*, std::shared_ptr<MenuItem>>> actions;
    };
    std::vector<Tray> trays;

    static QIcon drawnIcon() {
        QIcon themed = QIcon::fromTheme("document-edit");
        if (!themed.isNull()) {
            return themed;
        }
        QPixmap pixmap(32, 32);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor(0xF5, 0xC4, 0x00));
        painter.setPen(QPen(QColor(0x40, 0x40, 0x40), 2));
        painter.drawRoundedRect(QRectF(4, 2, 24, 28), 4, 4);
        for (int line = 0; line < 3; ++line) {
            painter.drawLine(QPointF(9, 10 + line * 6), QPointF(23, 10 + line * 6));
        }
        return QIcon(pixmap);
    }

    static void updateEnabled(Tray& tray) {
        for (auto& [action, item] : tray.actions) {
            const bool enabled = tray.menuShown->isEnabled(*item);
            if (action->isEnabled() != enabled) {
                action->setEnabled(enabled);
            }
        }
    }

    static void buildMenu(Tray& tray) {
        tray.actions.clear();
        if (tray.menu) {
            tray.menu->clear();
        }
        tray.menu = std::make_unique<QMenu>();
        tray.menuShown = tray.item.lock()->menu();
        if (!tray.menuShown) {
            tray.icon->setContextMenu(nullptr);
            return;
        }
        std::weak_ptr<Menu> weakMenu = tray.menuShown;
        for (const std::shared_ptr<MenuItem>& item : tray.menuShown->items()) {
            if (item->isSeparatorItem()) {
                tray.menu->addSeparator();
                continue;
            }
            QAction* action = tray.menu->addAction(QString::fromStdString(item->title()));
            std::weak_ptr<MenuItem> weakItem = item;
            QObject::connect(action, &QAction::triggered, [weakMenu, weakItem] {
                onMainLoop([weakMenu, weakItem] {
                    const auto menu = weakMenu.lock();
                    const auto chosen = weakItem.lock();
                    if (menu && chosen) {
                        menu->performActionForItem(*chosen);
                    }
                });
            });
            tray.actions.emplace_back(action, item);
        }
        Tray* self = &tray;
        QObject::connect(tray.menu.get(), &QMenu::aboutToShow, [self] { updateEnabled(*self); });
        updateEnabled(tray);
        tray.icon->setContextMenu(tray.menu.get());
    }
};

TrayIcons::TrayIcons() : icons_(std::make_unique<Icons>()) {}

TrayIcons::~TrayIcons() = default;

void TrayIcons::sync(const StatusBar& statusBar) {
    auto& trays = icons_->trays;
    std::erase_if(trays, [](const Icons::Tray& tray) { return tray.item.expired(); });
    for (const std::shared_ptr<StatusItem>& item : statusBar.items()) {
        auto found = std::find_if(trays.begin(), trays.end(), [&](const Icons::Tray& tray) {
            return tray.item.lock() == item;
        });
        if (found == trays.end()) {
            Icons::Tray tray;
            tray.item = item;
            tray.icon = std::make_unique<QSystemTrayIcon>(Icons::drawnIcon());
            if (const auto& image = item->button()->image()) {
                tray.icon->setToolTip(QString::fromStdString(image->accessibilityDescription));
            }
            trays.push_back(std::move(tray));
            found = std::prev(trays.end());
            Icons::buildMenu(*found);
            found->icon->show();
            continue;
        }
        if (found->menuShown != item->menu()) {
            Icons::buildMenu(*found);
        } else if (found->menuShown) {
            Icons::updateEnabled(*found);
        }
    }
}

ModalResponse runMessageBox(const AlertContents& alert) {
    QMessageBox box;
    box.setIcon(alert.style == AlertStyle::critical        ? QMessageBox::Critical
                : alert.style == AlertStyle::informational ? QMessageBox::Information
                                                           : QMessageBox::Warning);
    box.setText(QString::fromStdString(alert.messageText));
    box.setInformativeText(QString::fromStdString(alert.informativeText));
    std::vector<QPushButton*> buttons;
    for (std::size_t index = 0; index < alert.buttons.size(); ++index) {
        buttons.push_back(
            box.addButton(QString::fromStdString(alert.buttons[index]),
                          index == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
    }
    if (!buttons.empty()) {
        box.setDefaultButton(buttons.front());
    }
    box.exec();
    for (std::size_t index = 0; index < buttons.size(); ++index) {
        if (box.clickedButton() == buttons[index]) {
            return NSAlertFirstButtonReturn + static_cast<ModalResponse>(index);
        }
    }
    return NSModalResponseAbort;
}

} // namespace scrivlet::x11
