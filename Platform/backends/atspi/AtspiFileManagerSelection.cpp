#include "Platform/backends/atspi/AtspiFileManagerSelection.h"

#include "Platform/backends/atspi/CellStateRequests.h"
#include "Platform/backends/atspi/GLibContextPump.h"
#include "Platform/backends/atspi/SelectionRules.h"
#include "Platform/backends/atspi/SessionBus.h"
#include "Platform/backends/atspi/StallMeter.h"
#include "Platform/base/Log.h"
#include "Platform/system/Process.h"

#include <atspi/atspi.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace scrivlet::atspi {

namespace {

constexpr const char* applicationName = "Dolphin";
constexpr const char* a11yBusService = "org.a11y.Bus";
const std::vector<const char*> bundledLaunchers = {
    "/usr/libexec/at-spi-bus-launcher",
    "/usr/lib/at-spi2-core/at-spi-bus-launcher",
};
// The events that can change what is selected or which folder is shown. Ctrl+A and Escape
// change no item's state through an event: only the status bar's text tells of them.
constexpr const char* watchedEvents[] = {
    "object:state-changed:selected",
    "object:state-changed:focused",
    "object:state-changed:showing",
    "object:property-change:accessible-name",
    "object:children-changed",
    "window:activate",
    "window:deactivate",
};
// A window's tree holds a few hundred objects; the view and the location bar lie in its
// first hundred or so, in the order walked. The rest is not worth the calls.
constexpr int walkBudget = 400;
// How long a call to the file manager may take, and to one that started in the last moments.
constexpr int callTimeoutMilliseconds = 500;
constexpr int startupCallTimeoutMilliseconds = 1000;
// After the file manager joined the bus, our events are registered again this much later.
constexpr double reannounceSeconds = 1.0;
// A file manager still without a tree this long after it was followed will not publish one
// by itself (it saw accessibility off at its start).
constexpr double silentApplicationSeconds = 5.0;
// While the followed process has no accessible application yet (just started, or before
// accessibility was on), look for it this often.
constexpr double lookupRetrySeconds = 0.5;

const Logger& accessibilityLog() {
    static const Logger logger("com.scrivlet", "accessibility");
    return logger;
}

struct ObjectUnref {
    void operator()(void* object) const { g_object_unref(object); }
};
using Accessible = std::unique_ptr<AtspiAccessible, ObjectUnref>;

Accessible retained(AtspiAccessible* accessible) {
    if (accessible != nullptr) {
        g_object_ref(accessible);
    }
    return Accessible(accessible);
}

// Each reader answers nothing when the call failed (the object is gone, the bus timed out).
std::optional<AtspiRole> roleOf(AtspiAccessible* accessible) {
    GError* error = nullptr;
    const AtspiRole role = atspi_accessible_get_role(accessible, &error);
    if (error != nullptr) {
        g_error_free(error);
        return std::nullopt;
    }
    return role;
}

std::optional<std::string> nameOf(AtspiAccessible* accessible) {
    GError* error = nullptr;
    gchar* name = atspi_accessible_get_name(accessible, &error);
    if (error != nullptr) {
        g_error_free(error);
        g_free(name);
        return std::nullopt;
    }
    std::string text = name != nullptr ? name : "";
    g_free(name);
    return text;
}

int childCount(AtspiAccessible* accessible) {
    GError* error = nullptr;
    const gint count = atspi_accessible_get_child_count(accessible, &error);
    if (error != nullptr) {
        g_error_free(error);
        return -1;
    }
    return count;
}

Accessible childAt(AtspiAccessible* accessible, int index) {
    GError* error = nullptr;
    AtspiAccessible* child = atspi_accessible_get_child_at_index(accessible, index, &error);
    if (error != nullptr) {
        g_error_free(error);
        if (child != nullptr) {
            g_object_unref(child);
        }
        return nullptr;
    }
    return Accessible(child);
}

Accessible parentOf(AtspiAccessible* accessible) {
    GError* error = nullptr;
    AtspiAccessible* parent = atspi_accessible_get_parent(accessible, &error);
    if (error != nullptr) {
        g_error_free(error);
        if (parent != nullptr) {
            g_object_unref(parent);
        }
        return nullptr;
    }
    return Accessible(parent);
}

// The states asked for, or nothing when the object did not answer.
struct States {
    bool showing = false;
    bool active = false;
    bool focused = false;
    bool selected = false;
};

std::optional<States> statesOf(AtspiAccessible* accessible) {
    AtspiStateSet* set = atspi_accessible_get_state_set(accessible);
    if (set == nullptr) {
        return std::nullopt;
    }
    std::optional<States> states;
    if (atspi_state_set_contains(set, ATSPI_STATE_DEFUNCT) == FALSE) {
        states = States{atspi_state_set_contains(set, ATSPI_STATE_SHOWING) != FALSE,
                        atspi_state_set_contains(set, ATSPI_STATE_ACTIVE) != FALSE,
                        atspi_state_set_contains(set, ATSPI_STATE_FOCUSED) != FALSE,
                        atspi_state_set_contains(set, ATSPI_STATE_SELECTED) != FALSE};
    }
    g_object_unref(set);
    return states;
}

// The unique name on the accessibility bus of the application an object belongs to. Read
// from the object itself: no call is made, so it is safe for objects of any process.
std::string busNameOf(AtspiAccessible* accessible) {
    if (accessible == nullptr) {
        return {};
    }
    const AtspiObject* object = ATSPI_OBJECT(accessible);
    if (object->app == nullptr || object->app->bus_name == nullptr) {
        return {};
    }
    return object->app->bus_name;
}

std::string percentEncodedPath(const std::string& path) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char character : path) {
        const auto byte = static_cast<unsigned char>(character);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || byte == '/' || byte == '-' || byte == '_' ||
            byte == '.' || byte == '~') {
            encoded += character;
        } else {
            encoded += '%';
            encoded += digits[byte >> 4U];
            encoded += digits[byte & 0xFU];
        }
    }
    return encoded;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The places the file manager lists, from the user's places file.
std::vector<Place> userPlaces() {
    std::filesystem::path dataHome;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') {
        dataHome = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
        dataHome = std::filesystem::path(home) / ".local/share";
    }
    std::vector<Place> places;
    if (!dataHome.empty()) {
        places = placesFromBookmarks(readFile(dataHome / "user-places.xbel"));
    }
    return places;
}

// GLib's context, the accessibility bus and libatspi's state are per process; they are set
// up once and kept until the process ends.
struct AtspiRuntime {
    GMainContext* context = nullptr;
    bool initialized = false;

    static AtspiRuntime& shared() {
        static AtspiRuntime runtime;
        return runtime;
    }

    bool start() {
        if (context != nullptr) {
            return initialized;
        }
        // libatspi's connections and deferred events go to a context of our own: a toolkit
        // that runs GLib's default context on this thread never dispatches them, so the
        // run loop is the one place they run.
        context = g_main_context_new();
        initialized = atspi_init() >= 0;
        atspi_set_main_context(context);
        // Every call to the file manager blocks the main thread until it answers. libatspi
        // waits 15 s for an application that started recently: far too long for a frozen
        // file manager to hold the app. Its answers take well under a millisecond.
        atspi_set_timeout(callTimeoutMilliseconds, startupCallTimeoutMilliseconds);
        return initialized;
    }
};

// Turns accessibility on for the session. Qt applications read the session's flag when
// they start and again each time the accessibility bus appears, never when the flag alone
// changes. So: when no one has started the bus yet, start it ourselves with the flag already
// on, which makes a file manager that is already running expose its tree at once; and set
// the flag on the running bus, for every application started later.
void enableAccessibility(SessionBus& bus) {
    if (!bus.nameHasOwner(a11yBusService)) {
        for (const char* launcher : bundledLaunchers) {
            std::error_code unreadable;
            if (!std::filesystem::exists(launcher, unreadable)) {
                continue;
            }
            Process process;
            process.executableURL = launcher;
            process.arguments = {"--a11y=1"};
            if (const auto error = process.run()) {
                accessibilityLog().error("Could not start the accessibility bus: %{public}s",
                                         {error->localizedDescription});
            } else {
                accessibilityLog().info("Started the accessibility bus, accessibility on");
                for (int tries = 0; tries < 100 && !bus.nameHasOwner(a11yBusService); ++tries) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
            }
            break;
        }
    }
    if (!bus.setBooleanProperty(a11yBusService, "/org/a11y/bus", "org.a11y.Status", "IsEnabled",
                                true)) {
        accessibilityLog().error("Could not turn the session's accessibility on");
    }
}

class AtspiFileManagerSelection final : public FileManagerSelection {
public:
    AtspiFileManagerSelection(RunLoop& loop, AtspiSelectionOptions options)
        : loop_(loop), options_(std::move(options)),
          schedule_(options_.coalesceSeconds, options_.maxCoalesceSeconds),
          stallMeter_(StallMeter::fromEnvironment(loop_)) {
        sessionBus_ = SessionBus::connect();
        if (sessionBus_ && options_.enableAccessibility) {
            enableAccessibility(*sessionBus_);
        }
        // Without the accessibility bus libatspi falls back to the session bus, where no
        // application publishes its tree.
        available_ = sessionBus_ && sessionBus_->nameHasOwner(a11yBusService) &&
                     AtspiRuntime::shared().start();
        if (available_) {
            pump_ = std::make_unique<GLibContextPump>(loop_, AtspiRuntime::shared().context);
            pump_->pump();
        }
    }

    ~AtspiFileManagerSelection() override {
        stopFollowing();
        *alive_ = false;
    }

    AtspiFileManagerSelection(const AtspiFileManagerSelection&) = delete;
    AtspiFileManagerSelection& operator=(const AtspiFileManagerSelection&) = delete;

    bool isAvailable() const override { return available_; }

    void follow(pid_t processIdentifier, ChangeHandler onChange) override {
        loop_.assertOwnerThread("FileManagerSelection::follow");
        stopFollowing();
        pid_ = processIdentifier;
        onChange_ = std::move(onChange);
        followedSince_ = loop_.monotonicNow();
        reportedSilence_ = false;
        if (!available_) {
            return;
        }
        listener_ =
            atspi_event_listener_new(&AtspiFileManagerSelection::receiveEvent, this, nullptr);
        registerEvents();
        pump_->pumpSoon();
        requestRescan(true);
    }

    void stopFollowing() override {
        if (listener_ != nullptr) {
            deregisterEvents();
            g_object_unref(listener_);
            listener_ = nullptr;
        }
        if (reannounceTimer_) {
            loop_.invalidateTimer(*reannounceTimer_);
            reannounceTimer_.reset();
        }
        cancelRescan();
        stopScan();
        if (settleTimer_) {
            loop_.invalidateTimer(*settleTimer_);
            settleTimer_.reset();
        }
        if (retryTimer_) {
            loop_.invalidateTimer(*retryTimer_);
            retryTimer_.reset();
        }
        pid_.reset();
        onChange_ = nullptr;
        application_.reset();
        applicationBusName_.clear();
        forgetView();
        answer_.reset();
        answered_ = false;
    }

    std::optional<std::string> singleSelectedPath() override {
        loop_.assertOwnerThread("FileManagerSelection::singleSelectedPath");
        // A look still under way tells of its answer when it has one.
        return answer_;
    }

private:
    void registerEvents() {
        for (const char* type : watchedEvents) {
            GError* error = nullptr;
            atspi_event_listener_register(listener_, type, &error);
            if (error != nullptr) {
                g_error_free(error);
            }
        }
    }

    void deregisterEvents() {
        for (const char* type : watchedEvents) {
            atspi_event_listener_deregister(listener_, type, nullptr);
        }
    }

    // A Qt application asks the registry which events are wanted when it joins the bus and
    // only then subscribes to later registrations: one made in between is lost to it, and it
    // never sends those events. Registering again once it is on the bus, and again a moment
    // later, closes that gap.
    void reannounceEvents() {
        if (listener_ == nullptr) {
            return;
        }
        deregisterEvents();
        registerEvents();
        if (reannounceTimer_) {
            loop_.invalidateTimer(*reannounceTimer_);
        }
        reannounceTimer_ = loop_.addTimer(reannounceSeconds, false, [this] {
            reannounceTimer_.reset();
            if (listener_ != nullptr) {
                deregisterEvents();
                registerEvents();
                requestRescan(false);
            }
        });
    }

    // Called by libatspi, through C: nothing may be thrown back into it.
    static void receiveEvent(AtspiEvent* event, void* context) {
        auto* self = static_cast<AtspiFileManagerSelection*>(context);
        try {
            self->handleEvent(*event);
        } catch (const std::exception& error) {
            accessibilityLog().error("Accessibility event dropped: %{public}s", {error.what()});
        } catch (...) {
            accessibilityLog().error("Accessibility event dropped");
        }
        g_boxed_free(ATSPI_TYPE_EVENT, event);
    }

    // Runs inside the GLib context's dispatch. No call goes to the event's sender here: it
    // may be this very process, whose main thread would then wait on itself until the
    // bus timed out. The sender is told apart by its bus name alone.
    void handleEvent(const AtspiEvent& event) {
        if (!pid_ || event.type == nullptr) {
            return;
        }
        const std::string sender = busNameOf(event.source);
        if (applicationBusName_.empty()) {
            // Not found yet: any application that speaks may be it, now exposed.
            if (!retryTimer_ && !rescanTimer_) {
                requestRescan(false);
            }
            return;
        }
        if (sender != applicationBusName_) {
            return;
        }
        switch (classifyEvent(event.type, event.detail1)) {
        case EventEffect::ignore:
            return;
        case EventEffect::refindView:
            // Items coming and going inside the view found keep that view; anything else
            // may have brought another one. The parent libatspi already knows costs no call.
            if (!table_ ||
                (event.source != table_.get() && event.source->accessible_parent != table_.get())) {
                viewStale_ = true;
            } else {
                cellPaths_.clear();
            }
            requestRescan(false);
            return;
        case EventEffect::rescan:
            // The item given the focus is the candidate for a single selection; whether it
            // belongs to the view is asked when the selection is looked at.
            if (event.detail1 != 0 && event.source != nullptr &&
                std::string_view(event.type).starts_with("object:state-changed:focused")) {
                focusedCell_ = retained(event.source);
            }
            requestRescan(false);
            return;
        }
    }

    void requestRescan(bool notifyEvenIfSame) {
        notifyAlways_ = notifyAlways_ || notifyEvenIfSame;
        const double now = loop_.monotonicNow();
        const double at = schedule_.noteEvent(now);
        if (rescanTimer_) {
            loop_.invalidateTimer(*rescanTimer_);
        }
        rescanTimer_ = loop_.addTimer(std::max(0.0, at - now), false,
                                      [this, alive = std::weak_ptr<bool>(alive_)] {
                                          if (const auto still = alive.lock(); still && *still) {
                                              rescanTimer_.reset();
                                              rescan();
                                              scheduleSettledRescan();
                                          }
                                      });
    }

    // Escape right after a selection changes what is selected and nothing else: the file
    // manager tells of it only by its status bar, which it updates a moment after the last
    // change, and then with the same text it showed before. One more look once that moment is
    // over finds the selection as it stayed.
    void scheduleSettledRescan() {
        if (settleTimer_) {
            loop_.invalidateTimer(*settleTimer_);
        }
        settleTimer_ = loop_.addTimer(options_.settleSeconds, false, [this] {
            settleTimer_.reset();
            if (!rescanTimer_) {
                rescan();
            }
        });
    }

    void cancelRescan() {
        if (rescanTimer_) {
            loop_.invalidateTimer(*rescanTimer_);
            rescanTimer_.reset();
        }
        schedule_.noteRescan();
    }

    void scheduleLookupRetry() {
        if (retryTimer_) {
            return;
        }
        retryTimer_ = loop_.addTimer(lookupRetrySeconds, false, [this] {
            retryTimer_.reset();
            requestRescan(false);
        });
    }

    // The followed process's application on the accessibility bus. Asks the registry for
    // the applications and the bus for each one's process, never an application itself.
    bool findApplication() {
        if (application_) {
            return true;
        }
        AtspiAccessible* desktop = atspi_get_desktop(0);
        if (desktop == nullptr) {
            return false;
        }
        const int count = childCount(desktop);
        for (int index = 0; index < count && !application_; ++index) {
            Accessible candidate = childAt(desktop, index);
            if (!candidate) {
                continue;
            }
            GError* error = nullptr;
            const guint processIdentifier =
                atspi_accessible_get_process_id(candidate.get(), &error);
            if (error != nullptr) {
                g_error_free(error);
                continue;
            }
            if (static_cast<pid_t>(processIdentifier) == *pid_) {
                applicationBusName_ = busNameOf(candidate.get());
                application_ = std::move(candidate);
                reannounceEvents();
            }
        }
        g_object_unref(desktop);
        return application_ != nullptr;
    }

    void forgetView() {
        frame_.reset();
        table_.reset();
        navigator_.reset();
        cellPaths_.clear();
        focusedCell_.reset();
        viewStale_ = true;
        confirmations_.clear();
        confirmedClues_.reset();
    }

    // The window the user works in: the active main window, else the one used last.
    Accessible activeFrame() {
        const int count = childCount(application_.get());
        if (count < 0) {
            application_.reset();
            applicationBusName_.clear();
            forgetView();
            return nullptr;
        }
        Accessible fallback;
        for (int index = 0; index < count; ++index) {
            Accessible child = childAt(application_.get(), index);
            if (!child || roleOf(child.get()) != ATSPI_ROLE_FRAME) {
                continue;
            }
            const std::optional<States> states = statesOf(child.get());
            if (states && states->active) {
                return child;
            }
            // libatspi hands out one object per accessible: pointers compare.
            const bool usedLast = frame_ && child.get() == frame_.get();
            if (usedLast || (!fallback && states && states->showing)) {
                fallback = std::move(child);
            }
        }
        return fallback;
    }

    // A file view and whether its pane has the keyboard focus.
    // The view names no parent over the bus: all of it is learnt on the way down.
    struct FoundView {
        Accessible table;
        bool paneFocused = false;
    };

    struct Walk {
        int budget = walkBudget;
        std::vector<FoundView> views;
        Accessible navigator;
    };

    // Finds the file views (tables) and the location bar (the object that holds a combo box,
    // a check box and the path's buttons) among the showing objects of a window, passing over
    // the status bars (which hold a slider and a label).
    static void walk(AtspiAccessible* node, AtspiRole role, bool focused, Walk& found) {
        if (--found.budget < 0) {
            return;
        }
        if (role == ATSPI_ROLE_TABLE) {
            found.views.push_back({retained(node), focused});
            return;
        }
        const int count = childCount(node);
        bool hasCombo = false;
        bool hasCheck = false;
        bool hasSlider = false;
        bool hasLabel = false;
        std::vector<std::pair<Accessible, AtspiRole>> children;
        for (int index = 0; index < count; ++index) {
            Accessible child = childAt(node, index);
            if (!child) {
                continue;
            }
            const std::optional<AtspiRole> childRole = roleOf(child.get());
            if (!childRole) {
                continue;
            }
            hasCombo = hasCombo || *childRole == ATSPI_ROLE_COMBO_BOX;
            hasCheck = hasCheck || *childRole == ATSPI_ROLE_CHECK_BOX;
            hasSlider = hasSlider || *childRole == ATSPI_ROLE_SLIDER;
            hasLabel = hasLabel || *childRole == ATSPI_ROLE_LABEL;
            children.emplace_back(std::move(child), *childRole);
        }
        if (hasCombo && hasCheck && !found.navigator) {
            found.navigator = retained(node);
            return;
        }
        if (hasSlider && hasLabel) { // the status bar
            return;
        }
        for (auto& [child, childRole] : children) {
            switch (childRole) {
            // Menus, tab bars, lists (places, completions) and docked panels hold neither.
            case ATSPI_ROLE_MENU_BAR:
            case ATSPI_ROLE_POPUP_MENU:
            case ATSPI_ROLE_MENU:
            case ATSPI_ROLE_PAGE_TAB_LIST:
            case ATSPI_ROLE_LIST:
            case ATSPI_ROLE_FRAME:
            case ATSPI_ROLE_PUSH_BUTTON:
            case ATSPI_ROLE_CHECK_BOX:
            case ATSPI_ROLE_LABEL:
            case ATSPI_ROLE_SLIDER:
                continue;
            default:
                break;
            }
            const std::optional<States> states = statesOf(child.get());
            if (!states || !states->showing) {
                continue;
            }
            walk(child.get(), childRole, states->focused, found);
        }
    }

    // The view that has the keyboard focus (split views show two): the one whose pane holds
    // the focus, else the first.
    static FoundView focusedView(std::vector<FoundView>& views) {
        for (FoundView& view : views) {
            if (view.paneFocused) {
                return std::move(view);
            }
        }
        return views.empty() ? FoundView() : std::move(views.front());
    }

    bool viewIsUsable() const {
        if (!table_) {
            return false;
        }
        const std::optional<States> states = statesOf(table_.get());
        return states && states->showing && roleOf(table_.get()) == ATSPI_ROLE_TABLE;
    }

    void findView(Accessible frame) {
        Walk found;
        walk(frame.get(), ATSPI_ROLE_FRAME, false, found);
        FoundView view = focusedView(found.views);
        table_ = std::move(view.table);
        cellPaths_.clear();
        navigator_ = std::move(found.navigator);
        frame_ = std::move(frame);
        viewStale_ = false;
    }

    // The location bar's buttons and, when it shows none (while edited), its text.
    void readLocationBar(FolderClues& clues) const {
        clues.breadcrumb = breadcrumb();
        if (!clues.breadcrumb.empty() || !navigator_) {
            return;
        }
        const int count = childCount(navigator_.get());
        for (int index = 0; index < count; ++index) {
            Accessible child = childAt(navigator_.get(), index);
            if (child && roleOf(child.get()) == ATSPI_ROLE_COMBO_BOX) {
                clues.locationText = nameOf(child.get()).value_or(std::string());
                return;
            }
        }
    }

    std::vector<std::string> breadcrumb() const {
        std::vector<std::string> names;
        if (!navigator_) {
            return names;
        }
        const int count = childCount(navigator_.get());
        bool afterCheckBox = false;
        for (int index = 0; index < count; ++index) {
            Accessible child = childAt(navigator_.get(), index);
            if (!child) {
                return {};
            }
            const std::optional<AtspiRole> role = roleOf(child.get());
            if (role == ATSPI_ROLE_CHECK_BOX) {
                afterCheckBox = true;
                continue;
            }
            if (!afterCheckBox || role != ATSPI_ROLE_PUSH_BUTTON) {
                continue;
            }
            const std::optional<States> states = statesOf(child.get());
            const std::optional<std::string> name = nameOf(child.get());
            if (!states || !name) {
                return {};
            }
            if (states->showing) {
                names.push_back(*name);
            }
        }
        return names;
    }

    // Whether the file manager shows `folder` in one of its windows, by its own D-Bus word.
    bool fileManagerShows(const std::string& folder) {
        if (!sessionBus_ || !pid_) {
            return false;
        }
        const std::string service = "org.kde.dolphin-" + std::to_string(*pid_);
        const std::string url = "file://" + percentEncodedPath(folder);
        for (const std::string& window : sessionBus_->childObjects(service, "/dolphin")) {
            for (const std::string& form : {url, folder == "/" ? url : url + "/"}) {
                if (sessionBus_->callBoolean(service, "/dolphin/" + window,
                                             "org.kde.dolphin.MainWindow", "isUrlOpen",
                                             form) == true) {
                    return true;
                }
            }
        }
        return false;
    }

    // The folder shown, when exactly one reading of the clues is both on disk (holding the
    // selected item) and confirmed: an absolute title is the file manager's own statement;
    // a rebuilt path must also be open in one of its windows.
    std::optional<std::string> folderShown(const FolderClues& clues, const std::string& name) {
        std::string cluesKey = clues.title + '\n' + clues.locationText + '\n';
        for (const std::string& part : clues.breadcrumb) {
            cluesKey += part + '\n';
        }
        if (confirmedClues_ != cluesKey) {
            confirmations_.clear();
            confirmedClues_ = cluesKey;
            places_ = userPlaces(); // the user may have added one since
        }
        return chooseFolder(folderCandidates(clues, places_), [&](const std::string& folder) {
            std::error_code error;
            const std::optional<std::string> path = pathInFolder(folder, name);
            if (!path || !std::filesystem::is_directory(folder, error) ||
                !std::filesystem::exists(std::filesystem::symlink_status(*path, error))) {
                return false;
            }
            if (folder == clues.title) {
                return true;
            }
            const auto known = confirmations_.find(folder);
            if (known != confirmations_.end()) {
                return known->second;
            }
            const bool shown = fileManagerShows(folder);
            confirmations_[folder] = shown;
            return shown;
        });
    }

    // One look at the selection: what costs a handful of calls is read at once; the items of
    // the view are then asked for their states many at a time, and their answers taken as
    // the loop dispatches them, so that no view, however large, holds the main thread.
    void rescan() {
        schedule_.noteRescan();
        stopScan();
        report_ = ScanReport();
        lookStarted_ = std::chrono::steady_clock::now();
        const std::optional<Look> look = beginLook();
        if (pump_) {
            // The calls read whatever else came in meanwhile into libatspi's queue, where no
            // descriptor tells of it: the events among it are taken on the next turn.
            pump_->pumpSoon();
        }
        noteHeld(lookStarted_);
        if (!look) {
            finishLook(std::nullopt);
            return;
        }
        look_ = *look;
        // The answer shown stays while the items are read only when the focused item still
        // is that file and still selected; anything else takes it back at once.
        if (answer_ && !(look_->focusedSelected && look_->focusedName &&
                         pathInFolder(std::filesystem::path(*answer_).parent_path(),
                                      *look_->focusedName) == answer_)) {
            publish(std::nullopt);
        }
        startReading();
    }

    struct Look {
        FolderClues clues;
        std::size_t cellCount = 0;
        std::optional<std::size_t> focusedIndex;
        std::optional<std::string> focusedName;
        bool focusedSelected = false;
    };

    // Everything but the items: the window, its view, its folder and the focused item. A
    // view of more items than the cap is not read: no answer rather than one not confirmed.
    std::optional<Look> beginLook() {
        if (!pid_ || !available_) {
            return std::nullopt;
        }
        if (!findApplication()) {
            noteSilentApplication();
            return std::nullopt;
        }
        Accessible frame = activeFrame();
        const std::optional<std::string> title = frame ? nameOf(frame.get()) : std::nullopt;
        if (!title) {
            return std::nullopt;
        }
        // Another tab or view mode brings another view: its showing and children events
        // mark the one found stale.
        if (viewStale_ || frame.get() != frame_.get() || !viewIsUsable()) {
            findView(std::move(frame));
        }
        if (!table_) {
            return std::nullopt;
        }
        const int count = childCount(table_.get());
        if (count < 0) {
            viewStale_ = true;
            return std::nullopt;
        }
        Look look;
        look.cellCount = static_cast<std::size_t>(count);
        report_.cellsInView = look.cellCount;
        if (look.cellCount > options_.cellCap) {
            return std::nullopt;
        }
        look.clues.title = folderFromTitle(*title, applicationName);
        readLocationBar(look.clues);
        readFocusedItem(look);
        return look;
    }

    // The item that has the keyboard focus, as its last focus event named it.
    void readFocusedItem(Look& look) const {
        if (!focusedCell_ || parentOf(focusedCell_.get()).get() != table_.get()) {
            return;
        }
        GError* error = nullptr;
        const gint index = atspi_accessible_get_index_in_parent(focusedCell_.get(), &error);
        if (error != nullptr) {
            g_error_free(error);
            return;
        }
        const std::optional<States> states = statesOf(focusedCell_.get());
        if (index < 0 || !states) {
            return;
        }
        look.focusedIndex = static_cast<std::size_t>(index);
        look.focusedSelected = states->selected;
        look.focusedName = nameOf(focusedCell_.get());
    }

    // The items' paths are asked for once per view (one question, however many items) and
    // kept until its items change.
    void startReading() {
        readingStarted_ = std::chrono::steady_clock::now();
        scan_.emplace(look_->cellCount, look_->focusedIndex.value_or(0));
        requests_ = std::make_unique<CellStateRequests>(
            [this](std::size_t index, std::optional<bool> selected) { takeState(index, selected); },
            callTimeoutMilliseconds);
        if (scan_->isDone()) {
            finishLook(pathOfScan());
            return;
        }
        if (cellPaths_.size() == look_->cellCount) {
            askMoreStates();
            return;
        }
        const bool sent =
            requests_->askChildren(applicationBusName_, ATSPI_OBJECT(table_.get())->path,
                                   [this](std::optional<std::vector<std::string>> paths) {
                                       const auto started = std::chrono::steady_clock::now();
                                       // A view whose items changed since it was counted is looked
                                       // at again on the event that tells of the change; until then
                                       // it has no answer.
                                       if (!paths || paths->size() != look_->cellCount) {
                                           finishLook(std::nullopt);
                                       } else {
                                           cellPaths_ = std::move(*paths);
                                           askMoreStates();
                                       }
                                       noteHeld(started);
                                   });
        if (!sent) {
            finishLook(std::nullopt);
        }
    }

    // Keeps `inFlight` questions out: enough to hide the round trips, few enough that the
    // file manager goes on answering its user between them and that one dispatch of the
    // answers stays short.
    void askMoreStates() {
        while (requests_->outstanding() < options_.inFlight) {
            const std::optional<std::size_t> index = scan_->nextToAsk();
            if (!index) {
                break;
            }
            if (!requests_->askSelected(applicationBusName_, cellPaths_[*index], *index)) {
                scan_->record(*index, std::nullopt);
                break;
            }
        }
        if (scan_->isDone()) {
            finishLook(pathOfScan());
        }
    }

    void takeState(std::size_t index, std::optional<bool> selected) {
        const auto started = std::chrono::steady_clock::now();
        scan_->record(index, selected);
        if (scan_->isDone()) {
            finishLook(pathOfScan());
        } else {
            askMoreStates();
        }
        noteHeld(started);
    }

    void noteHeld(std::chrono::steady_clock::time_point started) {
        const double held =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        report_.longestSliceSeconds = std::max(report_.longestSliceSeconds, held);
    }

    // The one selected item's name is read from the very object found selected, not from its
    // place in the view, which another item may have taken meanwhile.
    std::optional<std::string> pathOfScan() {
        const CellScanResult& result = scan_->result();
        report_.cellsRead = result.cellsRead;
        if (result.count == SelectedCount::unknown) {
            cellPaths_.clear(); // an item gone: the paths are asked for again next time
        }
        if (result.count != SelectedCount::one || result.selectedIndex >= cellPaths_.size()) {
            return std::nullopt;
        }
        const std::optional<std::string> name = nameAtPath(
            applicationBusName_, cellPaths_[result.selectedIndex], callTimeoutMilliseconds);
        if (!name) {
            return std::nullopt;
        }
        const std::optional<std::string> folder = folderShown(look_->clues, *name);
        return folder ? pathInFolder(*folder, *name) : std::nullopt;
    }

    void finishLook(const std::optional<std::string>& path) {
        report_.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - lookStarted_).count();
        if (scan_) {
            report_.cellSeconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - readingStarted_)
                    .count();
        }
        // Called from inside an answer of the requests: they are let go once the loop moved on.
        if (requests_) {
            loop_.async([done = std::shared_ptr<CellStateRequests>(std::move(requests_))] {});
        }
        scan_.reset();
        look_.reset();
        if (options_.onScan) {
            options_.onScan(report_);
        }
        publish(path);
    }

    void publish(const std::optional<std::string>& path) {
        const bool changed = !answered_ || path != answer_;
        answer_ = path;
        answered_ = true;
        if ((changed || notifyAlways_) && onChange_) {
            notifyAlways_ = false;
            const ChangeHandler handler = onChange_;
            handler();
        }
    }

    void stopScan() {
        requests_.reset();
        scan_.reset();
        look_.reset();
    }

    // Until it exposes its tree; a process that ended is not waited for.
    void noteSilentApplication() {
        std::error_code error;
        if (!std::filesystem::exists("/proc/" + std::to_string(*pid_), error)) {
            return;
        }
        scheduleLookupRetry();
        if (!reportedSilence_ && loop_.monotonicNow() - followedSince_ > silentApplicationSeconds) {
            reportedSilence_ = true;
            accessibilityLog().error(
                "The file manager (process %d) publishes no accessibility tree; it "
                "will once it is restarted",
                {std::to_string(*pid_)});
        }
    }

    RunLoop& loop_;
    AtspiSelectionOptions options_;
    RescanSchedule schedule_;
    std::unique_ptr<SessionBus> sessionBus_;
    std::unique_ptr<GLibContextPump> pump_;
    bool available_ = false;

    std::optional<pid_t> pid_;
    double followedSince_ = 0;
    bool reportedSilence_ = false;
    ChangeHandler onChange_;
    AtspiEventListener* listener_ = nullptr;
    Accessible application_;
    std::string applicationBusName_;
    Accessible frame_;
    Accessible table_;
    Accessible navigator_;
    bool viewStale_ = true;
    std::vector<Place> places_;
    std::optional<std::string> confirmedClues_;
    std::map<std::string, bool> confirmations_;

    Accessible focusedCell_;
    std::optional<Look> look_;
    std::optional<OutwardScan> scan_;
    std::unique_ptr<CellStateRequests> requests_;
    std::vector<std::string> cellPaths_;
    ScanReport report_;
    std::chrono::steady_clock::time_point lookStarted_;
    std::chrono::steady_clock::time_point readingStarted_;

    std::optional<RunLoop::TimerID> rescanTimer_;
    std::optional<RunLoop::TimerID> retryTimer_;
    std::optional<RunLoop::TimerID> settleTimer_;
    std::optional<RunLoop::TimerID> reannounceTimer_;
    bool notifyAlways_ = false;
    bool answered_ = false;
    std::optional<std::string> answer_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    // For the benchmarks: the main thread's stalls while the selection is followed.
    std::unique_ptr<StallMeter> stallMeter_;
};

} // namespace

std::unique_ptr<FileManagerSelection> makeAtspiFileManagerSelection(RunLoop& loop,
                                                                    AtspiSelectionOptions options) {
    return std::make_unique<AtspiFileManagerSelection>(loop, std::move(options));
}

} // namespace scrivlet::atspi
