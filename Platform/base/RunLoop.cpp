#include "Platform/base/RunLoop.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <utility>

namespace scrivlet {

namespace {

// The loop keeps time in whole nanoseconds. Doubles would let 120 ticks of 1/120 s add up to a
// hair more or less than one second, and whether the last tick belongs to this second or the
// next would depend on rounding.
using Nanos = std::int64_t;
constexpr Nanos forever = std::numeric_limits<Nanos>::max();

// Longer delays are clamped: they mean "not in this process's lifetime" and must not overflow.
constexpr double longestDelaySeconds = 1e9;
// A repeating timer with a zero or negative interval would fire in a tight loop; it ticks at
// this rate instead.
constexpr Nanos shortestRepeatInterval = 100'000;

Nanos toNanos(double seconds) {
    if (!(seconds > 0)) {
        return 0; // negative and NaN delays mean "as soon as possible"
    }
    return std::llround(std::min(seconds, longestDelaySeconds) * 1e9);
}

double toSeconds(Nanos nanoseconds) {
    return static_cast<double>(nanoseconds) / 1e9;
}

std::size_t slot(RunLoopMode mode) {
    return static_cast<std::size_t>(mode);
}

std::atomic<RunLoop*> mainLoop{nullptr};

[[noreturn]] void stopProcess(const char* message, const char* entryPoint) {
    std::fprintf(stderr, "%s %s\n", entryPoint, message);
    std::abort();
}

void requireCallback(const std::function<void()>& callback, const char* entryPoint) {
    if (!callback) {
        stopProcess("needs a callback", entryPoint);
    }
}

// A callback that throws is a bug. Letting the exception unwind through the loop would leave a
// timer half rescheduled or a queue half drained, so the process stops here, saying which kind
// of callback it was.
void runCallback(const std::function<void()>& callback, const char* kind) {
    try {
        callback();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "RunLoop: uncaught exception in %s: %s\n", kind, error.what());
        std::abort();
    } catch (...) {
        std::fprintf(stderr, "RunLoop: uncaught exception of unknown type in %s\n", kind);
        std::abort();
    }
}

} // namespace

struct RunLoop::State {
    struct Timer {
        Nanos fire = 0;
        Nanos interval = 0;
        bool repeats = false;
        RunLoopMode mode = RunLoopMode::commonModes;
        // Empty while the timer's own callback runs; the callback holds it then.
        std::function<void()> action;
    };

    struct Source {
        int fd = -1;
        // Shared so that a callback removing its own source does not destroy itself mid-call.
        std::shared_ptr<const std::function<void()>> onReadable;
    };

    explicit State(std::unique_ptr<RunLoopBackend> loopBackend) : backend(std::move(loopBackend)) {}

    std::unique_ptr<RunLoopBackend> backend;
    const std::thread::id owner = std::this_thread::get_id();

    std::mutex queueMutex;
    std::deque<std::function<void()>> queue; // guarded by queueMutex
    // Set by the first off-thread poster after a wait and cleared after the next one, so a burst
    // of posts costs one wake-up rather than one system call each.
    std::atomic<bool> wakePending{false};

    std::atomic<bool> stopRequested{false};
    RunLoopDriver* driver = nullptr;
    std::atomic<int> runDepth{0};
    RunLoopMode mode = RunLoopMode::defaultMode;

    std::unordered_map<TimerID, Timer> timers;
    // One schedule per registration mode, ordered by (fire time, id) so that timers due at the
    // same instant fire in creation order. Only the current mode's and the common schedule are
    // looked at, so a held timer costs nothing while it waits.
    std::array<std::set<std::pair<Nanos, TimerID>>, 3> schedules;
    TimerID nextTimerID = 1;

    std::map<SourceID, Source> sources; // in registration order
    SourceID nextSourceID = 1;
    std::vector<int> watched; // the sources' descriptors, each once
    bool watchedStale = false;

    Nanos now() const { return std::llround(backend->monotonicNow() * 1e9); }

    bool hasQueuedWork() {
        std::lock_guard lock(queueMutex);
        return !queue.empty();
    }

    void enqueue(std::function<void()> block) {
        {
            std::lock_guard lock(queueMutex);
            queue.push_back(std::move(block));
        }
        // The owner thread is not waiting: it is here. The loop looks at the queue before it
        // waits again, so only other threads need to interrupt it.
        if (std::this_thread::get_id() != owner && !wakePending.exchange(true)) {
            backend->wake();
        }
    }

    // Runs what was queued when the drain began. Work those blocks post waits for the next
    // drain, so a block that keeps re-posting itself cannot keep timers and sources from running.
    bool drainQueue() {
        std::size_t count = 0;
        {
            std::lock_guard lock(queueMutex);
            count = queue.size();
        }
        for (std::size_t i = 0; i < count; ++i) {
            std::function<void()> block;
            {
                std::lock_guard lock(queueMutex);
                if (queue.empty()) {
                    break; // a nested run of the loop took the rest
                }
                block = std::move(queue.front());
                queue.pop_front();
            }
            runCallback(block, "a main-queue block");
        }
        return count > 0;
    }

    TimerID addTimer(Nanos delay, Nanos interval, bool repeats, RunLoopMode timerMode,
                     std::function<void()> action) {
        const TimerID id = nextTimerID++;
        const Nanos fire = now() + delay;
        timers.emplace(id, Timer{fire, interval, repeats, timerMode, std::move(action)});
        schedules[slot(timerMode)].emplace(fire, id);
        return id;
    }

    const std::pair<Nanos, TimerID>* nextEligibleTimer() const {
        const std::pair<Nanos, TimerID>* best = nullptr;
        for (const RunLoopMode eligible : {RunLoopMode::commonModes, mode}) {
            const auto& schedule = schedules[slot(eligible)];
            if (!schedule.empty() && (best == nullptr || *schedule.begin() < *best)) {
                best = &*schedule.begin();
            }
        }
        return best;
    }

    void fireTimer(Nanos fire, TimerID id) {
        const auto found = timers.find(id);
        Timer& timer = found->second;
        auto& schedule = schedules[slot(timer.mode)];
        auto entry = schedule.extract({fire, id});
        std::function<void()> action = std::move(timer.action);
        if (!timer.repeats) {
            // A one-shot timer is spent once it fires; cancelling it from its callback is the
            // no-op that cancelling any fired timer is.
            timers.erase(found);
            runCallback(action, "a timer");
            return;
        }
        runCallback(action, "a timer");
        // The callback may have invalidated this timer, and it may have added timers, which
        // can move the map's elements; look again rather than trust `timer`.
        const auto still = timers.find(id);
        if (still == timers.end()) {
            return;
        }
        still->second.action = std::move(action);
        // Stay on the original phase; when late, skip the ticks that were missed rather than
        // firing them back to back.
        const Nanos interval = still->second.interval;
        const Nanos current = now();
        Nanos next = fire + interval;
        if (next <= current) {
            next = fire + ((current - fire) / interval + 1) * interval;
        }
        still->second.fire = next;
        entry.value() = {next, id};
        schedule.insert(std::move(entry));
    }

    bool fireDueTimers(Nanos horizon) {
        bool fired = false;
        // Repeating timers are rescheduled past "now", which is past the horizon, so each
        // fires at most once here.
        while (const auto* next = nextEligibleTimer()) {
            if (next->first > horizon) {
                break;
            }
            const auto [fire, id] = *next;
            fireTimer(fire, id);
            drainQueue();
            fired = true;
        }
        return fired;
    }

    const std::vector<int>& watchedDescriptors() {
        if (watchedStale) {
            watched.clear();
            for (const auto& entry : sources) {
                if (std::find(watched.begin(), watched.end(), entry.second.fd) == watched.end()) {
                    watched.push_back(entry.second.fd);
                }
            }
            watchedStale = false;
        }
        return watched;
    }

    bool dispatchReadable(const std::vector<int>& ready) {
        std::vector<SourceID> due;
        for (const auto& [id, source] : sources) {
            if (std::find(ready.begin(), ready.end(), source.fd) != ready.end()) {
                due.push_back(id);
            }
        }
        for (const SourceID id : due) {
            // An earlier callback may have removed this source.
            const auto found = sources.find(id);
            if (found == sources.end()) {
                continue;
            }
            const auto callback = found->second.onReadable;
            runCallback(*callback, "a file-descriptor source");
            drainQueue();
        }
        return !due.empty();
    }

    // One turn of the loop: queued work, a wait (`blockUntil`: the latest instant it may last;
    // nothing: do not block), readable sources, then the timers due by `horizon`. Inside run()
    // a pending stop must not block: a callback on this thread stops without a wake-up.
    bool turn(std::optional<Nanos> blockUntil, Nanos horizon, bool insideRun = false) {
        bool ran = drainQueue();
        std::optional<double> timeout = 0.0;
        if (blockUntil && !(insideRun && stopRequested.load()) && !hasQueuedWork()) {
            Nanos until = *blockUntil;
            if (const auto* next = nextEligibleTimer()) {
                until = std::min(until, next->first);
            }
            if (until == forever) {
                timeout.reset();
            } else {
                timeout = toSeconds(std::max<Nanos>(0, until - now()));
            }
        }
        const std::vector<int>& fds = watchedDescriptors();
        std::vector<int> ready;
        // With nothing to watch and no reason to block there is nothing to ask the kernel; a
        // pending wake-up stays in the backend and merely ends the next blocking wait early.
        if (!fds.empty() || timeout != 0.0) {
            backend->wait(timeout, fds, ready);
            wakePending.store(false);
        }
        if (!ready.empty()) {
            ran = dispatchReadable(ready) || ran;
        }
        return fireDueTimers(std::min(now(), horizon)) || ran;
    }

    // What a wait would be given now: nothing (no limit) or the seconds until the next timer,
    // none at all while work is queued.
    std::optional<double> pendingTimeout() {
        if (hasQueuedWork()) {
            return 0.0;
        }
        const auto* next = nextEligibleTimer();
        if (next == nullptr) {
            return std::nullopt;
        }
        return toSeconds(std::max<Nanos>(0, next->first - now()));
    }

    bool performReady() {
        // The backend is asked at least once even with nothing to watch: a wake-up from another
        // thread left unread would keep the driver's descriptor readable for ever.
        std::vector<int> ready;
        backend->wait(0.0, watchedDescriptors(), ready);
        wakePending.store(false);
        bool ran = drainQueue();
        if (!ready.empty()) {
            ran = dispatchReadable(ready) || ran;
        }
        ran = fireDueTimers(now()) || ran;
        ran = runUntilIdle() || ran;
        backend->prepareExternalWait(pendingTimeout(), watchedDescriptors());
        if (stopRequested.load() && driver != nullptr) {
            driver->quit();
        }
        return ran;
    }

    // The pending work moves out of the loop before it is destroyed: a destructor that calls
    // back (to cancel its timer, say) finds a loop without it rather than a container halfway
    // through its own destruction.
    void discardPendingWork() {
        for (;;) {
            std::unordered_map<TimerID, Timer> droppedTimers = std::exchange(timers, {});
            for (auto& schedule : schedules) {
                schedule.clear();
            }
            std::deque<std::function<void()>> droppedBlocks;
            {
                std::lock_guard lock(queueMutex);
                droppedBlocks.swap(queue);
            }
            if (droppedTimers.empty() && droppedBlocks.empty()) {
                return;
            }
        }
    }

    void discardSources() {
        while (!sources.empty()) {
            std::map<SourceID, Source> dropped = std::exchange(sources, {});
            watchedStale = true;
            for (const auto& entry : dropped) {
                backend->forgetDescriptor(entry.second.fd);
            }
        }
    }

    bool runUntilIdle() {
        const Nanos horizon = now();
        bool ran = false;
        while (turn(std::nullopt, horizon)) {
            ran = true;
        }
        return ran;
    }
};

RunLoop::RunLoop(std::unique_ptr<RunLoopBackend> backend) {
    if (!backend) {
        stopProcess("needs a backend", "RunLoop::RunLoop");
    }
    state_ = std::make_unique<State>(std::move(backend));
}

RunLoop::~RunLoop() {
    state_->discardPendingWork();
    state_->discardSources();
    // A destructor run by the sources' release may have left work behind.
    state_->discardPendingWork();
    RunLoop* self = this;
    mainLoop.compare_exchange_strong(self, nullptr);
}

RunLoop& RunLoop::main() {
    RunLoop* loop = mainLoop.load();
    if (loop == nullptr) {
        stopProcess("called before a main run loop was installed", "RunLoop::main()");
    }
    return *loop;
}

bool RunLoop::hasMain() {
    return mainLoop.load() != nullptr;
}

void RunLoop::setMain(RunLoop* loop) {
    mainLoop.store(loop);
}

bool RunLoop::isOwnerThread() const {
    return std::this_thread::get_id() == state_->owner;
}

void RunLoop::assertOwnerThread(const char* entryPoint) const {
    if (!isOwnerThread()) {
        stopProcess("must run on the main thread", entryPoint);
    }
}

bool RunLoop::checkOwnerThread(const char* entryPoint) const {
    if (isOwnerThread()) {
        return true;
    }
    std::fprintf(stderr, "%s called off the main thread\n", entryPoint);
    return false;
}

Date RunLoop::now() const {
    return state_->backend->wallNow();
}

Scheduler::TimerID RunLoop::scheduleAfter(double delaySeconds, std::function<void()> action) {
    assertOwnerThread("RunLoop::scheduleAfter");
    requireCallback(action, "RunLoop::scheduleAfter");
    return state_->addTimer(toNanos(delaySeconds), 0, false, RunLoopMode::commonModes,
                            std::move(action));
}

void RunLoop::cancel(TimerID timer) {
    assertOwnerThread("RunLoop::cancel");
    invalidateTimer(timer);
}

double RunLoop::monotonicNow() const {
    return state_->backend->monotonicNow();
}

Scheduler::TimerID RunLoop::addTimer(double intervalSeconds, bool repeats,
                                     std::function<void()> action, RunLoopMode mode) {
    assertOwnerThread("RunLoop::addTimer");
    requireCallback(action, "RunLoop::addTimer");
    const Nanos interval = toNanos(intervalSeconds);
    return state_->addTimer(interval, repeats ? std::max(interval, shortestRepeatInterval) : 0,
                            repeats, mode, std::move(action));
}

void RunLoop::invalidateTimer(TimerID timer) {
    assertOwnerThread("RunLoop::invalidateTimer");
    const auto found = state_->timers.find(timer);
    if (found == state_->timers.end()) {
        return;
    }
    // Not in its schedule while its own callback runs; erasing nothing is fine then.
    state_->schedules[slot(found->second.mode)].erase({found->second.fire, timer});
    state_->timers.erase(found);
}

bool RunLoop::isTimerValid(TimerID timer) const {
    assertOwnerThread("RunLoop::isTimerValid");
    return state_->timers.count(timer) != 0;
}

std::size_t RunLoop::timerCount() const {
    assertOwnerThread("RunLoop::timerCount");
    return state_->timers.size();
}

std::optional<double> RunLoop::secondsUntilNextTimer() const {
    assertOwnerThread("RunLoop::secondsUntilNextTimer");
    const auto* next = state_->nextEligibleTimer();
    if (next == nullptr) {
        return std::nullopt;
    }
    return toSeconds(std::max<Nanos>(0, next->first - state_->now()));
}

void RunLoop::async(std::function<void()> block) {
    requireCallback(block, "RunLoop::async");
    state_->enqueue(std::move(block));
}

void RunLoop::asyncAfter(double delaySeconds, std::function<void()> block) {
    assertOwnerThread("RunLoop::asyncAfter");
    requireCallback(block, "RunLoop::asyncAfter");
    State* state = state_.get();
    state_->addTimer(
        toNanos(delaySeconds), 0, false, RunLoopMode::commonModes,
        [state, block = std::move(block)]() mutable { state->enqueue(std::move(block)); });
}

void RunLoop::discardPendingWork() {
    assertOwnerThread("RunLoop::discardPendingWork");
    state_->discardPendingWork();
}

void RunLoop::postTask(std::function<void()> task) {
    assertOwnerThread("RunLoop::postTask");
    requireCallback(task, "RunLoop::postTask");
    state_->enqueue(std::move(task));
}

RunLoop::SourceID RunLoop::addFileDescriptorSource(int fd, std::function<void()> onReadable) {
    assertOwnerThread("RunLoop::addFileDescriptorSource");
    requireCallback(onReadable, "RunLoop::addFileDescriptorSource");
    if (fd < 0) {
        stopProcess("needs an open descriptor", "RunLoop::addFileDescriptorSource");
    }
    const SourceID id = state_->nextSourceID++;
    state_->sources.emplace(id, State::Source{fd, std::make_shared<const std::function<void()>>(
                                                      std::move(onReadable))});
    state_->watchedStale = true;
    return id;
}

void RunLoop::removeSource(SourceID source) {
    assertOwnerThread("RunLoop::removeSource");
    const auto found = state_->sources.find(source);
    if (found == state_->sources.end()) {
        return;
    }
    const int fd = found->second.fd;
    state_->sources.erase(found);
    state_->watchedStale = true;
    const bool stillWatched =
        std::any_of(state_->sources.begin(), state_->sources.end(),
                    [fd](const auto& entry) { return entry.second.fd == fd; });
    if (!stillWatched) {
        state_->backend->forgetDescriptor(fd);
    }
}

void RunLoop::run() {
    assertOwnerThread("RunLoop::run");
    State& state = *state_;
    struct RunningScope {
        std::atomic<int>& runs;
        explicit RunningScope(std::atomic<int>& counter) : runs(counter) { ++runs; }
        ~RunningScope() { --runs; }
        RunningScope(const RunningScope&) = delete;
        RunningScope& operator=(const RunningScope&) = delete;
    } running(state.runDepth);

    // A stop that arrives before the loop gets here ends this run at once; otherwise a stop sent
    // from another thread just as the run starts could be lost.
    while (!state.stopRequested.exchange(false)) {
        if (state.driver != nullptr) {
            state.performReady();
            if (!state.stopRequested.load()) {
                state.driver->exec();
            }
        } else {
            state.turn(forever, forever, true);
        }
    }
}

void RunLoop::stop() {
    state_->stopRequested.store(true);
    if (!isOwnerThread()) {
        // A driven loop hears it through its descriptor, and its turn quits the driver. On the
        // owner thread the driver turns the loop before it blocks again.
        state_->backend->wake();
    }
}

void RunLoop::setDriver(RunLoopDriver* driver) {
    assertOwnerThread("RunLoop::setDriver");
    state_->driver = driver;
}

int RunLoop::driverDescriptor() {
    assertOwnerThread("RunLoop::driverDescriptor");
    State& state = *state_;
    return state.backend->prepareExternalWait(state.pendingTimeout(), state.watchedDescriptors());
}

bool RunLoop::performReady() {
    assertOwnerThread("RunLoop::performReady");
    return state_->performReady();
}

bool RunLoop::isRunning() const {
    return state_->runDepth.load() > 0;
}

RunLoopMode RunLoop::currentMode() const {
    assertOwnerThread("RunLoop::currentMode");
    return state_->mode;
}

void RunLoop::setCurrentMode(RunLoopMode mode) {
    assertOwnerThread("RunLoop::setCurrentMode");
    if (mode == RunLoopMode::commonModes) {
        stopProcess("cannot run in commonModes, which only registers for every mode",
                    "RunLoop::setCurrentMode");
    }
    state_->mode = mode;
}

bool RunLoop::runUntilIdle() {
    assertOwnerThread("RunLoop::runUntilIdle");
    return state_->runUntilIdle();
}

void RunLoop::advance(double seconds) {
    assertOwnerThread("RunLoop::advance");
    State& state = *state_;
    const Nanos target = state.now() + toNanos(seconds);
    // A turn waits no longer than the next timer, and not at all while work is queued, so each
    // timer fires at its own instant after everything before it has settled.
    do {
        state.turn(target, target);
    } while (state.now() < target);
    state.runUntilIdle();
}

} // namespace scrivlet
