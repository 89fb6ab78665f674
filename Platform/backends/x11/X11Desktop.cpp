#include "Platform/backends/x11/X11Desktop.h"

#include "Platform/backends/qt/QtRunLoopDriver.h"
#include "Platform/backends/x11/EwmhConnection.h"
#include "Platform/backends/x11/X11Widgets.h"
#include "Platform/base/FileHandle.h"
#include "Platform/base/Log.h"
#include "Platform/base/RunLoop.h"
#include "Platform/desktop/Application.h"
#include "Platform/desktop/FileManagerScripts.h"
#include "Platform/desktop/Panel.h"
#include "Platform/desktop/SessionFileManager.h"
#include "Platform/system/Bundle.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QStringList>
#include <QUrl>
#include <QX11Info>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/syscall.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace scrivlet::x11 {

namespace {

std::string processName(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// A descriptor that turns readable when the process ends; -1 where the kernel has none.
int processDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

} // namespace

struct X11Desktop::State {
    X11Desktop* desktop = nullptr;
    RunLoop& loop;
    std::unique_ptr<EwmhConnection> ewmh;
    std::unique_ptr<FileManagerSelection> selection;
    // The toolkit's arguments live as long as the application object.
    int argc = 1;
    char programName[9] = "Scrivlet";
    char* argv[2] = {programName, nullptr};
    std::unique_ptr<QApplication> application;
    std::unique_ptr<RunLoopDriver> driver;
    RunLoop::SourceID ewmhSource = 0;

    std::vector<ClientWindow> clients; // bottom to top
    std::optional<std::uint32_t> currentDesktop;
    FocusState focus;
    std::optional<std::uint32_t> focusWindow;          // _NET_ACTIVE_WINDOW
    std::map<std::uint32_t, CGRect> fileManagerFrames; // as last reported
    std::vector<MonitorRecord> monitors;
    std::optional<CGRect> workArea;
    struct KnownApplication {
        RunningApplicationInfo info;
        FileHandle exitDescriptor; // a pidfd: readable once the process ends
        RunLoop::SourceID exitSource = 0;
    };
    std::vector<KnownApplication> applications;
    std::optional<pid_t> fileManager;

    std::vector<std::weak_ptr<AXObserverObject>> observers;
    std::vector<std::unique_ptr<PanelWindow>> panels;
    std::unique_ptr<TrayIcons> trays;
    bool promptShown = false;

    explicit State(RunLoop& runLoop) : loop(runLoop) {}

    ~State() {
        for (KnownApplication& known : applications) {
            forgetExit(known);
        }
        if (ewmhSource != 0) {
            loop.removeSource(ewmhSource);
        }
        driver.reset();
        panels.clear();
        trays.reset();
        // The selection may talk over the toolkit's buses: it goes while they are there.
        selection.reset();
        // Widgets replaced on the last turn wait for a deferred delete no loop will run now.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        application.reset();
    }

    CoordinateSpace space() const { return coordinateSpaceOf(screenGeometry(), primaryIndex()); }

    // The toolkit knows the outputs only; a monitor set by hand over part of one (or over
    // several) is known to RandR alone. Read at the start and whenever the screens change.
    void readMonitors() {
        if (ewmh && !ewmh->hasFailed()) {
            const double ratio = pixelRatio();
            monitors = ewmh->monitors();
            for (MonitorRecord& monitor : monitors) {
                monitor.frame = inToolkitUnits(monitor.frame, ratio);
            }
            workArea = ewmh->workArea();
            if (workArea) {
                workArea = inToolkitUnits(*workArea, ratio);
            }
        }
    }

    // Device pixels per toolkit unit (QT_SCALE_FACTOR and the like); one for the whole X screen.
    static double pixelRatio() {
        const QScreen* screen = QGuiApplication::primaryScreen();
        return screen != nullptr ? screen->devicePixelRatio() : 1.0;
    }

    std::vector<ClientWindow> describe(const std::vector<std::uint32_t>& windows) const {
        std::vector<ClientWindow> described = ewmh->describe(windows);
        const double ratio = pixelRatio();
        for (ClientWindow& window : described) {
            window = inToolkitUnits(std::move(window), ratio);
        }
        return described;
    }

    std::vector<ScreenGeometry> screenGeometry() const {
        if (!monitors.empty()) {
            return screensOfMonitors(monitors, workArea);
        }
        std::vector<ScreenGeometry> geometry;
        for (const QScreen* screen : QGuiApplication::screens()) {
            const QRect frame = screen->geometry();
            const QRect available = screen->availableGeometry();
            geometry.push_back(
                {CGRect(frame.x(), frame.y(), frame.width(), frame.height()),
                 CGRect(available.x(), available.y(), available.width(), available.height())});
        }
        return geometry;
    }

    std::size_t primaryIndex() const {
        if (!monitors.empty()) {
            return primaryMonitorIndex(monitors);
        }
        const auto screens = QGuiApplication::screens();
        const auto found =
            std::find(screens.begin(), screens.end(), QGuiApplication::primaryScreen());
        return found == screens.end() ? 0 : static_cast<std::size_t>(found - screens.begin());
    }

    const ClientWindow* client(std::uint32_t id) const {
        const auto found =
            std::find_if(clients.begin(), clients.end(),
                         [id](const ClientWindow& window) { return window.id == id; });
        return found == clients.end() ? nullptr : &*found;
    }

    // Notifications reach the app as events of the main loop, after the one that caused them.
    void post(NotificationCenter& center, const Notification& notification) {
        if (RunLoop::hasMain()) {
            center.enqueue(RunLoop::main(), notification);
        }
    }

    void postAccessibility(const AXUIElement& element, const std::string& name) {
        std::erase_if(observers, [](const auto& observer) { return observer.expired(); });
        for (const auto& weak : observers) {
            if (AXObserverRef observer = weak.lock();
                observer && observer->processIdentifier() == element.processIdentifier) {
                observer->deliver(element, name);
            }
        }
    }

    RunningApplication applicationFor(pid_t pid) const {
        if (pid == 0) {
            // A window that names no process: the application is known by its class only.
            const ClientWindow* active = focusWindow ? client(*focusWindow) : nullptr;
            const std::string windowClass = active != nullptr ? active->className : "";
            const ApplicationIdentity identity = identifyApplication("", windowClass);
            return {identity.bundleIdentifier, 0, identity.localizedName};
        }
        if (pid == ::getpid()) {
            return RunningApplication::currentApplication();
        }
        for (const KnownApplication& known : applications) {
            if (known.info.processIdentifier == pid) {
                return {known.info.bundleIdentifier, pid, known.info.localizedName};
            }
        }
        const ApplicationIdentity identity = identifyApplication(processName(pid), "");
        return {identity.bundleIdentifier, pid, identity.localizedName};
    }

    // Reads what the server sent and brings the model up to date; `queuedOnly` takes only the
    // events that replies already pulled in.
    // Answers whether there were any.
    bool readEvents(bool queuedOnly) {
        if (!ewmh || ewmh->hasFailed()) {
            return false;
        }
        bool any = false;
        // Describing windows asks the server again, which can bring in more events.
        for (int round = 0; round < 8; ++round) {
            const EwmhConnection::Changes changes = ewmh->drain(queuedOnly && round == 0);
            if (!changes.any()) {
                break;
            }
            any = true;
            apply(changes);
        }
        return any;
    }

    void apply(const EwmhConnection::Changes& changes) {
        if (changes.clientList) {
            clients = describe(ewmh->stacking());
            refreshApplications();
        } else if (!changes.windows.empty()) {
            std::vector<std::uint32_t> changed;
            for (const std::uint32_t id : changes.windows) {
                if (client(id) != nullptr) {
                    changed.push_back(id);
                }
            }
            for (ClientWindow& fresh : describe(changed)) {
                for (ClientWindow& known : clients) {
                    if (known.id == fresh.id) {
                        known = std::move(fresh);
                        break;
                    }
                }
            }
        }
        if (changes.currentDesktop) {
            const auto desktopNow = ewmh->currentDesktop();
            if (desktopNow != currentDesktop) {
                currentDesktop = desktopNow;
                readMonitors(); // each desktop has its own work area
                post(desktop->workspace_.notificationCenter(),
                     {NSWorkspaceActiveSpaceDidChangeNotification, std::nullopt});
            }
        }
        if (changes.clientList || changes.activeWindow) {
            refreshFocus();
        }
        reportFileManagerGeometry();
    }

    void refreshFocus() {
        focusWindow = ewmh->activeWindow();
        followFrontFileManager();
        tellFrontFileManagerWindow();
        const FocusChange change = nextFocus(focus, focusWindow, clients, fileManager);
        focus = change.state;
        if (change.activated) {
            for (KnownApplication& known : applications) {
                known.info.active = known.info.processIdentifier == *change.activated;
            }
            post(
                desktop->workspace_.notificationCenter(),
                {NSWorkspaceDidActivateApplicationNotification, applicationFor(*change.activated)});
        }
        if (change.fileManagerWindowChanged && fileManager) {
            postAccessibility(AXUIElement{*fileManager, 0}, "AXFocusedWindowChanged");
            postAccessibility(AXUIElement{*fileManager, 0}, "AXFocusedUIElementChanged");
        }
    }

    // The file manager's windows tell their moves and resizes, as accessibility does.
    void reportFileManagerGeometry() {
        std::map<std::uint32_t, CGRect> frames;
        for (const ClientWindow& window : clients) {
            if (fileManager && window.pid == fileManager) {
                frames[window.id] = outerFrame(window);
            }
        }
        for (const auto& [id, frame] : frames) {
            const auto before = fileManagerFrames.find(id);
            if (before == fileManagerFrames.end()) {
                continue;
            }
            const GeometryChange change = compareFrames(before->second, frame);
            if (change.resized) {
                postAccessibility(AXUIElement{*fileManager, id}, "AXResized");
            }
            if (change.moved) {
                postAccessibility(AXUIElement{*fileManager, id}, "AXMoved");
            }
        }
        fileManagerFrames = std::move(frames);
    }

    void refreshApplications() {
        std::vector<ClientWindow> others;
        for (const ClientWindow& window : clients) {
            if (window.pid != ::getpid()) {
                others.push_back(window);
            }
        }
        const std::vector<RunningApplicationInfo> withWindows = applicationsOf(others, processName);
        std::vector<RunningApplicationInfo> before;
        for (const KnownApplication& known : applications) {
            before.push_back(known.info);
        }
        // An application stays until its process ends; one whose end cannot be watched goes
        // with its last window.
        std::vector<RunningApplicationInfo> after = withWindows;
        for (const KnownApplication& known : applications) {
            const bool hasWindows = std::any_of(
                withWindows.begin(), withWindows.end(), [&](const RunningApplicationInfo& app) {
                    return app.processIdentifier == known.info.processIdentifier;
                });
            if (!hasWindows && known.exitDescriptor.isValid()) {
                after.push_back(known.info);
            }
        }
        const ApplicationChanges changes = compareApplications(before, after);
        for (const RunningApplicationInfo& ended : changes.terminated) {
            terminated(ended.processIdentifier);
        }
        for (const RunningApplicationInfo& started : changes.launched) {
            launched(started);
        }
    }

    void launched(const RunningApplicationInfo& info) {
        KnownApplication known{info, FileHandle(processDescriptor(info.processIdentifier)), 0};
        const pid_t pid = info.processIdentifier;
        if (known.exitDescriptor.isValid()) {
            known.exitSource =
                loop.addFileDescriptorSource(known.exitDescriptor.get(), [this, pid] {
                    terminated(pid);
                    refreshFocus();
                });
        }
        applications.push_back(std::move(known));
        if (isFileManager({info.bundleIdentifier, info.localizedName}) && !fileManager) {
            follow(pid);
        }
        post(desktop->workspace_.notificationCenter(),
             {NSWorkspaceDidLaunchApplicationNotification,
              RunningApplication(info.bundleIdentifier, pid, info.localizedName)});
    }

    void follow(pid_t pid) {
        fileManager = pid;
        focus.fileManagerWindow.reset();
        fileManagerFrames.clear();
        if (selection) {
            selection->follow(pid, [this, pid] {
                postAccessibility(AXUIElement{pid, 0}, "AXSelectedRowsChanged");
            });
        }
    }

    // The file manager opens each new window in a process of its own: the process followed
    // is the one whose window came to the front last, as the user sees the one file manager.
    void followFrontFileManager() {
        const ClientWindow* active = focusWindow ? client(*focusWindow) : nullptr;
        if (active == nullptr || !active->pid || *active->pid <= 0 || active->pid == fileManager) {
            return;
        }
        const pid_t owner = *active->pid;
        const bool ownerIsFileManager =
            std::any_of(applications.begin(), applications.end(), [owner](const auto& known) {
                return known.info.processIdentifier == owner &&
                       isFileManager({known.info.bundleIdentifier, known.info.localizedName});
            });
        if (ownerIsFileManager) {
            follow(owner);
        }
    }

    // The file manager's windows share one process; a selection reader that must tell them
    // apart learns which one is in front.
    void tellFrontFileManagerWindow() {
        const ClientWindow* active = focusWindow ? client(*focusWindow) : nullptr;
        if (!selection || active == nullptr || !fileManager || active->pid != fileManager) {
            return;
        }
        if (const auto objectPath = ewmh->gtkWindowObjectPath(active->id)) {
            selection->fileManagerWindowInFront(*objectPath);
        }
    }

    void forgetExit(KnownApplication& known) {
        if (known.exitSource != 0) {
            loop.removeSource(known.exitSource);
            known.exitSource = 0;
        }
        known.exitDescriptor.reset();
    }

    void terminated(pid_t pid) {
        const auto found =
            std::find_if(applications.begin(), applications.end(),
                         [pid](const auto& known) { return known.info.processIdentifier == pid; });
        if (found == applications.end()) {
            return;
        }
        const RunningApplicationInfo info = found->info;
        forgetExit(*found);
        applications.erase(found);
        if (fileManager == pid) {
            fileManager.reset();
            focus.fileManagerWindow.reset();
            fileManagerFrames.clear();
            if (selection) {
                selection->stopFollowing();
            }
        }
        post(desktop->workspace_.notificationCenter(),
             {NSWorkspaceDidTerminateApplicationNotification,
              RunningApplication(info.bundleIdentifier, pid, info.localizedName, true)});
    }

    // After a turn of the run loop: the events that replies pulled into xcb's queue (the
    // descriptor will not tell of them) and what they post, then the app's windows brought in
    // step with their models.
    void afterTurn() {
        for (int round = 0; round < 4 && readEvents(true); ++round) {
            loop.performReady();
        }
        std::erase_if(panels, [](const auto& panel) { return !panel->isAlive(); });
        for (const auto& panel : panels) {
            panel->refreshContent();
        }
        trays->sync(desktop->statusBar_);
        // The toolkit flushes its own X connection when its loop is about to block, which may
        // come before this turn: without a flush here, the last requests of a turn (a fade's
        // final opacity, a move) would wait for the next event of any kind.
        xcb_flush(QX11Info::connection());
    }
};

X11Desktop::X11Desktop(std::unique_ptr<State> state) : state_(std::move(state)) {
    state_->desktop = this;
}

X11Desktop::~X11Desktop() = default;

std::unique_ptr<X11Desktop> X11Desktop::open(RunLoop& loop,
                                             std::unique_ptr<FileManagerSelection> selection,
                                             std::string& error) {
    auto state = std::make_unique<State>(loop);
    const char* display = std::getenv("DISPLAY");
    state->ewmh = EwmhConnection::open(display, error);
    if (!state->ewmh) {
        return nullptr;
    }
    // The toolkit draws on the same X11 display, whatever session the user is in, and with its
    // raster engine: plain widgets need no OpenGL, whose driver would cost memory and start-up.
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("QT_XCB_GL_INTEGRATION", "none", 0);
    state->application = std::make_unique<QApplication>(state->argc, state->argv);
    QApplication::setQuitOnLastWindowClosed(false);
    state->selection = std::move(selection);

    std::unique_ptr<X11Desktop> desktop(new X11Desktop(std::move(state)));
    State* s = desktop->state_.get();
    s->trays = std::make_unique<TrayIcons>();
    s->driver = makeQtRunLoopDriver(loop, [s] { s->afterTurn(); });
    s->ewmhSource =
        loop.addFileDescriptorSource(s->ewmh->fileDescriptor(), [s] { s->readEvents(false); });
    s->currentDesktop = s->ewmh->currentDesktop();
    s->readMonitors();
    s->clients = s->describe(s->ewmh->stacking());
    s->refreshApplications();
    s->refreshFocus();
    s->reportFileManagerGeometry();

    const auto screensChanged = [s] {
        s->readMonitors();
        s->post(s->desktop->defaultCenter_,
                {NSApplicationDidChangeScreenParametersNotification, std::nullopt});
    };
    const auto watchScreen = [screensChanged](QScreen* screen) {
        QObject::connect(screen, &QScreen::geometryChanged, screensChanged);
        QObject::connect(screen, &QScreen::availableGeometryChanged, screensChanged);
    };
    for (QScreen* screen : QGuiApplication::screens()) {
        watchScreen(screen);
    }
    QObject::connect(qApp, &QGuiApplication::screenAdded,
                     [screensChanged, watchScreen](QScreen* screen) {
                         watchScreen(screen);
                         screensChanged();
                     });
    QObject::connect(qApp, &QGuiApplication::screenRemoved, screensChanged);
    QObject::connect(qApp, &QGuiApplication::primaryScreenChanged, screensChanged);
    return desktop;
}

std::vector<Screen> X11Desktop::screens() const {
    return screensFromGeometry(state_->screenGeometry(), state_->primaryIndex());
}

std::optional<Screen> X11Desktop::mainScreen() const {
    const std::vector<Screen> all = screens();
    if (all.empty()) {
        return std::nullopt;
    }
    return all.front();
}

std::optional<std::vector<WindowServerEntry>> X11Desktop::windowList() const {
    if (!state_->ewmh || state_->ewmh->hasFailed()) {
        return std::nullopt;
    }
    return windowServerEntries(state_->clients, state_->space(), state_->currentDesktop);
}

bool X11Desktop::isAccessibilityTrusted() const {
    return state_->selection && state_->selection->isAvailable();
}

void X11Desktop::promptForAccessibility() {
    if (std::exchange(state_->promptShown, true)) {
        return;
    }
    NSLog("Scrivlet: The file manager's selection is read through the accessibility bus "
          "(AT-SPI); start it and turn accessibility on for the desktop session");
}

AXError X11Desktop::readAttribute(const AXUIElement& element, const std::string& attribute,
                                  AXAttributeValue& value) const {
    value = std::monostate{};
    if (!isAccessibilityTrusted()) {
        return AXError::apiDisabled;
    }
    if (!state_->fileManager || *state_->fileManager != element.processIdentifier) {
        return AXError::cannotComplete; // only the file manager's elements are answered
    }
    if (element.isApplication()) {
        if (attribute != "AXFocusedWindow") {
            return AXError::attributeUnsupported;
        }
        if (!state_->focus.fileManagerWindow) {
            return AXError::noValue;
        }
        value = AXUIElement{element.processIdentifier, *state_->focus.fileManagerWindow};
        return AXError::success;
    }
    const ClientWindow* window = state_->client(element.windowNumber);
    if (window == nullptr || window->pid != element.processIdentifier) {
        return AXError::invalidUIElement;
    }
    const CGRect frame = state_->space().toWindowServer(outerFrame(*window));
    if (attribute == "AXRole") {
        value = std::string("AXWindow");
    } else if (attribute == "AXSubrole") {
        value = std::string(window->kind == WindowKind::normal   ? "AXStandardWindow"
                            : window->kind == WindowKind::dialog ? "AXDialog"
                                                                 : "AXFloatingWindow");
    } else if (attribute == "AXPosition") {
        value = AXValue::ofPoint(frame.origin);
    } else if (attribute == "AXSize") {
        value = AXValue::ofSize(frame.size);
    } else if (attribute == "AXFullScreen") {
        value = window->fullScreen;
    } else {
        return AXError::attributeUnsupported;
    }
    return AXError::success;
}

AXError X11Desktop::registerObserver(const AXObserverRef& observer) {
    state_->observers.push_back(observer);
    return AXError::success;
}

ScriptReply X11Desktop::runScript(const std::string& source) {
    if (!source.starts_with("tell application \"Finder\"")) {
        return scriptErrorReply("-1708", "The application did not understand it.");
    }
    if (!state_->fileManager) {
        return scriptErrorReply("-600", "The file manager is not running.");
    }
    if (source != fileManagerSelectionScript()) {
        return scriptErrorReply("-1708", "The file manager did not understand it.");
    }
    std::optional<std::string> path =
        state_->selection ? state_->selection->singleSelectedPath() : std::nullopt;
    if (!path) {
        return {std::string(), {}};
    }
    std::error_code ignored;
    if (std::filesystem::is_directory(*path, ignored) && !path->ends_with('/')) {
        *path += '/'; // folders are named with a trailing slash
    }
    return {*path, {}};
}

std::vector<RunningApplicationInfo> X11Desktop::runningApplications() const {
    std::vector<RunningApplicationInfo> running;
    for (const State::KnownApplication& known : state_->applications) {
        running.push_back(known.info);
    }
    return running;
}

std::optional<RunningApplicationInfo> X11Desktop::frontmostApplication() const {
    if (!state_->focus.frontmost || *state_->focus.frontmost == 0) {
        return std::nullopt;
    }
    const RunningApplication front = state_->applicationFor(*state_->focus.frontmost);
    return RunningApplicationInfo{front.bundleIdentifier(), front.processIdentifier(),
                                  front.localizedName(), true};
}

bool X11Desktop::activateApplication(pid_t processIdentifier) {
    for (auto window = state_->clients.rbegin(); window != state_->clients.rend(); ++window) {
        if (window->pid == processIdentifier && window->kind == WindowKind::normal) {
            state_->ewmh->requestActivation(window->id);
            return true;
        }
    }
    return false;
}

void X11Desktop::panelCreated(const std::shared_ptr<Panel>& panel) {
    state_->panels.push_back(std::make_unique<PanelWindow>(panel));
}

void X11Desktop::panelChanged(const Panel& panel, PanelChange change) {
    for (const auto& window : state_->panels) {
        if (window->shows(panel)) {
            window->apply(change, state_->space());
        }
    }
}

ModalResponse X11Desktop::runModalAlert(const AlertContents& alert) {
    return runMessageBox(alert);
}

void X11Desktop::revealInFileManager(const std::vector<std::string>& paths) {
    QStringList uris;
    std::vector<std::string> uriTexts;
    for (const std::string& path : paths) {
        uris << QUrl::fromLocalFile(QString::fromStdString(path)).toString();
        uriTexts.push_back(uris.back().toStdString());
    }
    // A running file manager owns the name and is asked. With none running, the bus would
    // start whichever of the installed ones claims the name first, not necessarily the one
    // this session uses: that one is started instead. Nothing here is waited for.
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QDBusMessage hasOwner = QDBusMessage::createMethodCall(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner");
    auto* watcher = new QDBusPendingCallWatcher(
        bus.asyncCall(QDBusMessage(hasOwner) << QString("org.freedesktop.FileManager1")));
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished,
        [uris, uriTexts](QDBusPendingCallWatcher* call) {
            const QDBusPendingReply<bool> owned = *call;
            call->deleteLater();
            if (owned.isValid() && owned.value()) {
                QDBusMessage showItems = QDBusMessage::createMethodCall(
                    "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                    "org.freedesktop.FileManager1", "ShowItems");
                showItems << uris << QString();
                QDBusConnection::sessionBus().asyncCall(showItems);
                return;
            }
            const std::vector<std::string> command =
                showItemsCommand(sessionFileManager(), uriTexts);
            QStringList arguments;
            for (std::size_t i = 1; i < command.size(); ++i) {
                arguments << QString::fromStdString(command[i]);
            }
            if (!QProcess::startDetached(QString::fromStdString(command.front()), arguments)) {
                NSLog("Scrivlet: Cannot start the file manager %@", {command.front()});
            }
        });
}

bool X11Desktop::openURL(const URL& url) {
    return urlOpener_ ? urlOpener_(url) : Application::deliverURLLater(url);
}

} // namespace scrivlet::x11
