#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/Geometry.h"

#include <cstdint>
#include <memory>
#include <string>

namespace scrivlet {

enum WindowStyleMask : unsigned {
    NSWindowStyleMaskTitled = 1,
    NSWindowStyleMaskClosable = 2,
    NSWindowStyleMaskMiniaturizable = 4,
    NSWindowStyleMaskResizable = 8,
    NSWindowStyleMaskUtilityWindow = 16,
    NSWindowStyleMaskNonactivatingPanel = 128,
};

enum WindowCollectionBehavior : unsigned {
    NSWindowCollectionBehaviorDefault = 0,
    NSWindowCollectionBehaviorCanJoinAllSpaces = 1,
    NSWindowCollectionBehaviorMoveToActiveSpace = 2,
    NSWindowCollectionBehaviorFullScreenAuxiliary = 256,
};

inline constexpr int NSBackingStoreBuffered = 2;
inline constexpr int NSNormalWindowLevel = 0;
inline constexpr int NSFloatingWindowLevel = 3;

class Panel;

// What a window shows. The panel's content is a hosting view of the app's content.
class SCRIVLET_PLATFORM_API ContentView {
public:
    virtual ~ContentView() = default;
};

class SCRIVLET_PLATFORM_API WindowDelegate {
public:
    virtual ~WindowDelegate() = default;
    // The window is about to close (its close button, or `close`).
    virtual void windowWillClose(Panel& window) { (void)window; }
};

// The proxy through which a property change is animated inside an animation group.
class SCRIVLET_PLATFORM_API PanelAnimator {
public:
    explicit PanelAnimator(std::shared_ptr<Panel> panel) : panel_(std::move(panel)) {}
    void setAlphaValue(double alpha);

private:
    std::shared_ptr<Panel> panel_;
};

// A floating panel window. Showing it (orderFront) never activates the app or takes the
// keyboard focus. The desktop keeps a list of live panels for its observation side.
class SCRIVLET_PLATFORM_API Panel : public std::enable_shared_from_this<Panel> {
public:
    // Nothing when the window cannot be made (a content rectangle without a size).
    static std::shared_ptr<Panel> create(const CGRect& contentRect, unsigned styleMask, int backing,
                                         bool defer);

    unsigned styleMask() const { return styleMask_; }
    const CGRect& contentRect() const { return contentRect_; }

    int level() const { return level_; }
    void setLevel(int level) { level_ = level; }
    unsigned collectionBehavior() const { return collectionBehavior_; }
    void setCollectionBehavior(unsigned behavior);
    int collectionBehaviorChanges() const { return collectionBehaviorChanges_; }
    bool hidesOnDeactivate() const { return hidesOnDeactivate_; }
    void setHidesOnDeactivate(bool flag) { hidesOnDeactivate_ = flag; }
    bool becomesKeyOnlyIfNeeded() const { return becomesKeyOnlyIfNeeded_; }
    void setBecomesKeyOnlyIfNeeded(bool flag) { becomesKeyOnlyIfNeeded_ = flag; }
    bool isMovableByWindowBackground() const { return movableByBackground_; }
    void setMovableByWindowBackground(bool flag) { movableByBackground_ = flag; }
    CGSize minSize() const { return minSize_; }
    void setMinSize(CGSize size) { minSize_ = size; }
    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }
    bool isReleasedWhenClosed() const { return releasedWhenClosed_; }
    void setReleasedWhenClosed(bool flag) { releasedWhenClosed_ = flag; }
    void setDelegate(std::weak_ptr<WindowDelegate> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<WindowDelegate> delegate() const { return delegate_.lock(); }
    void setContentView(std::shared_ptr<ContentView> view) { contentView_ = std::move(view); }
    const std::shared_ptr<ContentView>& contentView() const { return contentView_; }

    const CGRect& frame() const { return frame_; }
    void setFrame(const CGRect& frame, bool display);
    int frameChanges() const { return frameChanges_; }
    double alphaValue() const { return alpha_; }
    void setAlphaValue(double alpha);
    bool isVisible() const { return visible_; }
    void orderFront(const void* sender);
    void orderOut(const void* sender);
    bool isKeyWindow() const { return false; }

    // The title bar's close button: tells the delegate, then orders the panel out.
    void close();

    PanelAnimator animator() { return PanelAnimator(shared_from_this()); }
    // Incremented by every new alpha animation, so an older one stops driving the value.
    std::uint64_t alphaAnimationGeneration() const { return alphaGeneration_; }
    std::uint64_t beginAlphaAnimation() { return ++alphaGeneration_; }

private:
    Panel(const CGRect& contentRect, unsigned styleMask);

    CGRect contentRect_;
    unsigned styleMask_;
    int level_ = NSNormalWindowLevel;
    unsigned collectionBehavior_ = NSWindowCollectionBehaviorDefault;
    int collectionBehaviorChanges_ = 0;
    bool hidesOnDeactivate_ = true;
    bool becomesKeyOnlyIfNeeded_ = false;
    bool movableByBackground_ = false;
    CGSize minSize_;
    std::string title_;
    bool releasedWhenClosed_ = true;
    std::weak_ptr<WindowDelegate> delegate_;
    std::shared_ptr<ContentView> contentView_;
    CGRect frame_;
    int frameChanges_ = 0;
    double alpha_ = 1.0;
    bool visible_ = false;
    std::uint64_t alphaGeneration_ = 0;
};

} // namespace scrivlet
