#pragma once

#include "Platform/backends/x11/WindowRecords.h"
#include "Platform/desktop/Alert.h"
#include "Platform/desktop/DesktopBackend.h"
#include "Platform/desktop/Panel.h"
#include "Platform/desktop/StatusBar.h"

#include <memory>
#include <vector>

// The app's own windows on the X11 desktop, drawn by Qt widgets: panels with their view
// trees, the tray icon with the status item's menu, and modal alerts. The toolkit's types stay
// in the implementation.
namespace scrivlet::x11 {

// One panel's window: frameless, above other windows, shown without taking the focus (it
// takes it only when the user clicks into a text editor, so the note can be typed into).
class PanelWindow {
public:
    explicit PanelWindow(const std::shared_ptr<Panel>& panel);
    ~PanelWindow();
    PanelWindow(const PanelWindow&) = delete;
    PanelWindow& operator=(const PanelWindow&) = delete;

    bool shows(const Panel& panel) const;
    bool isAlive() const;
    // Mirrors a property the app changed.
    void apply(PanelChange change, const CoordinateSpace& space);
    // Draws the content view's tree again when it was rebuilt since it was last drawn.
    void refreshContent();
    // The X window id of the panel while it is on screen; 0 otherwise.
    unsigned long windowId() const;

private:
    struct Widgets;
    std::unique_ptr<Widgets> widgets_;
};

// The status bar's items as tray icons, each with its menu; kept in step with the model.
class TrayIcons {
public:
    TrayIcons();
    ~TrayIcons();
    TrayIcons(const TrayIcons&) = delete;
    TrayIcons& operator=(const TrayIcons&) = delete;

    void sync(const StatusBar& statusBar);

private:
    struct Icons;
    std::unique_ptr<Icons> icons_;
};

// A message box; answered as the alert's first button plus the index of the one pressed.
ModalResponse runMessageBox(const AlertContents& alert);

} // namespace scrivlet::x11
