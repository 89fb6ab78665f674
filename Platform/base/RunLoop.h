#pragma once

#include "Platform/base/Clock.h"
#include "Platform/base/Export.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace scrivlet {

// Where a run loop gets its time and waits for events. The real backend waits in epoll on a
// monotonic clock. A test's virtual clock never sleeps: a wait with nothing ready moves its
// time forward by the timeout at once, so the loop itself needs no notion of which it has.
class SCRIVLET_PLATFORM_API RunLoopBackend {
public:
    virtual ~RunLoopBackend() = default;
    // Seconds on a monotonic clock; timers are scheduled on it.
    virtual double monotonicNow() const = 0;
    // The wall-clock date that corresponds to monotonicNow().
    virtual Date wallNow() const = 0;
    // Waits until one of `fds` is readable or `timeoutSeconds` passed (nothing: no limit,
    // 0: just look). Appends the readable descriptors to `ready`.
    virtual void wait(std::optional<double> timeoutSeconds, const std::vector<int>& fds,
                      std::vector<int>& ready) = 0;
    // Interrupts a wait from another thread.
    virtual void wake() = 0;
    // The loop stopped watching `fd` and its owner may close it next. A backend that keeps
    // registrations between waits drops this one now: the number can come back for another
    // file before the next wait, and the descriptor list alone would not show the change.
    virtual void forgetDescriptor(int /*fd*/) {}
    // For a loop that another event loop drives: sets `fds` and the deadline up as a wait
    // would, without waiting, and answers a descriptor that turns readable when such a wait
    // would end. -1: this backend cannot be waited on from outside (a virtual clock).
    virtual int prepareExternalWait(std::optional<double> /*timeoutSeconds*/,
                                    const std::vector<int>& /*fds*/) {
        return -1;
    }
};

SCRIVLET_PLATFORM_API std::unique_ptr<RunLoopBackend> makeRealRunLoopBackend();

// A toolkit's event loop that drives a run loop, so that a process has one loop that waits.
// While the run loop runs, the driver waits in its place: it watches the loop's
// `driverDescriptor()` and calls `performReady()` when that turns readable and before it blocks.
class SCRIVLET_PLATFORM_API RunLoopDriver {
public:
    virtual ~RunLoopDriver() = default;
    // Runs the toolkit's loop until quit().
    virtual void exec() = 0;
    // Ends exec() (and any loop nested in it); called on the loop's thread.
    virtual void quit() = 0;
};

enum class RunLoopMode {
    defaultMode,   // ordinary running
    eventTracking, // while a menu is open or the mouse tracks; default-mode timers wait
    commonModes,   // for registrations only: fire in every mode
};

// The main run loop of a process: file-descriptor sources, timers, the main queue (`async`,
// `asyncAfter`) and main-actor tasks, all run on the thread that runs the loop. Work posted
// while an event is handled runs after that event, in posting order.
class SCRIVLET_PLATFORM_API RunLoop final : public Scheduler {
public:
    using SourceID = std::uint64_t;

    explicit RunLoop(std::unique_ptr<RunLoopBackend> backend);
    // Releases what is still pending (see discardPendingWork) while the loop is whole, so
    // the destructors of what that work holds may still call the loop.
    ~RunLoop() override;
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // The process's main run loop; it must have been installed with setMain first.
    static RunLoop& main();
    static bool hasMain();
    static void setMain(RunLoop* loop);

    // The loop belongs to the thread that created it.
    bool isOwnerThread() const;
    // Stops the process with a message when called off the owner thread.
    void assertOwnerThread(const char* entryPoint) const;
    // Reports a call off the owner thread on stderr and answers false; the caller goes on.
    bool checkOwnerThread(const char* entryPoint) const;

    // Scheduler: wall-clock now and one-shot timers in the common modes.
    Date now() const override;
    TimerID scheduleAfter(double delaySeconds, std::function<void()> action) override;
    void cancel(TimerID timer) override;

    double monotonicNow() const;

    // Timers (owner thread). A repeating timer that fell behind skips the missed ticks.
    TimerID addTimer(double intervalSeconds, bool repeats, std::function<void()> action,
                     RunLoopMode mode = RunLoopMode::commonModes);
    void invalidateTimer(TimerID timer);
    bool isTimerValid(TimerID timer) const;
    std::size_t timerCount() const;
    // How long until the next timer that fires in the current mode is due (0 when overdue);
    // nothing without one. A loop that another event loop drives arms its wake-up with it.
    std::optional<double> secondsUntilNextTimer() const;

    // Drops every timer and queued block without running it, for the end of a process: the
    // objects they hold are released now, while what those objects refer to still exists.
    // Their destructors may call the loop (cancel a timer, post a block); what they leave
    // pending is dropped as well. Sources stay: their owners remove them. Owner thread.
    void discardPendingWork();

    // Main queue. `async` may be called from any thread.
    void async(std::function<void()> block);
    void asyncAfter(double delaySeconds, std::function<void()> block);
    // A main-actor task: runs after the current event, like an `async` block.
    void postTask(std::function<void()> task);

    // Readable file descriptors (owner thread). The callback must consume what woke it.
    SourceID addFileDescriptorSource(int fd, std::function<void()> onReadable);
    void removeSource(SourceID source);

    // Runs until stop(). stop() may be called from any thread. With a driver, the driver's
    // loop runs instead and this loop's work runs from inside it.
    void run();
    void stop();
    bool isRunning() const;

    // Hands the waiting to another event loop (owner thread; nullptr: wait here again). The
    // driver must outlive its installation.
    void setDriver(RunLoopDriver* driver);
    // For a driver: the descriptor to watch, readable whenever this loop has work (a source,
    // a wake-up from another thread, its next timer); -1 when the backend has none.
    int driverDescriptor();
    // For a driver: handles everything that is ready now, then sets the descriptor up for the
    // next piece of work. Answers whether anything ran.
    bool performReady();

    // The mode the loop runs in now (defaultMode unless something tracks).
    RunLoopMode currentMode() const;
    void setCurrentMode(RunLoopMode mode);

    // Handles everything that is ready now (queue, tasks, readable sources, due timers)
    // without waiting or moving time. Answers whether anything ran.
    bool runUntilIdle();
    // Runs the loop for `seconds`: timers fire at their instants and everything they post
    // runs before the clock passes the next one. On a virtual clock this takes no real time.
    void advance(double seconds);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace scrivlet
