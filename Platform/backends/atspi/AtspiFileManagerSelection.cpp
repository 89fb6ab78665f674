#include "Platform/backends/atspi/AtspiFileManagerSelection.h"

#include "Platform/backends/atspi/GLibContextPump.h"
#include "Platform/backends/atspi/SelectionReaderThread.h"
#include "Platform/backends/atspi/SelectionRules.h"
#include "Platform/backends/atspi/SessionBus.h"
#include "Platform/backends/atspi/StallMeter.h"
#include "Platform/base/Log.h"
#include "Platform/system/Process.h"

#include <atspi/atspi.h>
#include <chrono>
#include <filesystem>
#include <thread>

namespace scrivlet::atspi {

namespace {

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

// The unique name on the accessibility bus of the application an object belongs to, and the
// object's path. Read from the object itself: no call is made.
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

std::string pathOf(AtspiAccessible* accessible) {
    return accessible != nullptr && ATSPI_OBJECT(accessible)->path != nullptr
               ? ATSPI_OBJECT(accessible)->path
               : std::string();
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
        // The main thread calls nothing of the file manager's, but libatspi may while it
        // takes an event in: 15 s for an application that started recently is far too long.
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
            reader_ = std::make_unique<SelectionReaderThread>(
                loop_, [this](const LookNews& news) { takeNews(news); }, callTimeoutMilliseconds);
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
        ++generation_; // news of a look already asked for is dropped
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

    // Runs inside the GLib context's dispatch. No call is made here: the main thread waits
    // on no one. The sender is told apart by its bus name alone, an object by its path.
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
            if (tablePath_.empty() || (pathOf(event.source) != tablePath_ &&
                                       (event.source == nullptr ||
                                        pathOf(event.source->accessible_parent) != tablePath_))) {
                viewStale_ = true;
            } else {
                itemsChanged_ = true;
            }
            requestRescan(false);
            return;
        case EventEffect::rescan:
            // The item given the focus is the candidate for a single selection; whether it
            // belongs to the view is asked when the selection is looked at.
            if (event.detail1 != 0 && event.source != nullptr &&
                std::string_view(event.type).starts_with("object:state-changed:focused")) {
                focusedCell_ = ObjectRef{sender, pathOf(event.source)};
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

    void forgetView() {
        tablePath_.clear();
        focusedCell_.reset();
        viewStale_ = true;
    }

    // One look at the selection, made on the reader's thread: the main thread only asks and,
    // later, takes the news.
    void rescan() {
        schedule_.noteRescan();
        ++generation_;
        if (!pid_ || !reader_) {
            publish(std::nullopt);
            return;
        }
        LookRequest request;
        request.generation = generation_;
        request.pid = *pid_;
        request.focused = focusedCell_;
        request.viewStale = viewStale_;
        request.itemsChanged = itemsChanged_;
        request.cellCap = options_.cellCap;
        request.inFlight = options_.inFlight;
        viewStale_ = false;
        itemsChanged_ = false;
        reader_->ask(request);
    }

    void takeNews(const LookNews& news) {
        loop_.assertOwnerThread("FileManagerSelection news");
        if (!pid_ || news.generation != generation_) {
            return; // a look given up, or one for a process no longer followed
        }
        const auto started = std::chrono::steady_clock::now();
        if (news.kind == LookNews::Kind::focus) {
            // The answer shown stays while the items are read when the focused item still is
            // that file and still selected, or when the focus left the view's items (the
            // window coming to the front focuses its view first), which tells nothing of the
            // selection; an item of the view focused that is not that file takes it back at once.
            if (answer_ && news.focusOnItem &&
                !(news.focusedSelected && news.focusedName &&
                  pathInFolder(std::filesystem::path(*answer_).parent_path(), *news.focusedName) ==
                      answer_)) {
                publish(std::nullopt);
            }
            return;
        }
        if (news.applicationBus.empty()) {
            if (!applicationBusName_.empty()) {
                applicationBusName_.clear();
                forgetView();
            }
            noteSilentApplication();
        } else if (news.applicationBus != applicationBusName_) {
            applicationBusName_ = news.applicationBus;
            reannounceEvents();
        }
        tablePath_ = news.tablePath;
        ScanReport report = news.report;
        publish(news.path);
        report.longestSliceSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (options_.onScan) {
            options_.onScan(report);
        }
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
    std::string applicationBusName_;
    // What the events told since the last look was asked for.
    std::string tablePath_;
    std::optional<ObjectRef> focusedCell_;
    bool viewStale_ = true;
    bool itemsChanged_ = false;

    std::unique_ptr<SelectionReaderThread> reader_;
    std::uint64_t generation_ = 0;

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
