#include "Platform/base/FileHandle.h"
#include "Platform/base/RunLoop.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <system_error>
#include <unistd.h>

namespace scrivlet {

namespace {

[[noreturn]] void failBecause(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// Waits in epoll. The descriptor set lives in the kernel between waits and is only touched when
// the loop's list changes. Timeouts go through a timerfd rather than epoll_wait's milliseconds:
// a 1/120 s display timer rounded to whole milliseconds would drift a frame every few seconds.
// The descriptors close with the backend, or with a constructor that gives up half-way.
class EpollRunLoopBackend final : public RunLoopBackend {
public:
    EpollRunLoopBackend() {
        epoll_.reset(::epoll_create1(EPOLL_CLOEXEC));
        if (!epoll_.isValid()) {
            failBecause("epoll_create1");
        }
        wakeFd_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!wakeFd_.isValid()) {
            failBecause("eventfd");
        }
        timerFd_.reset(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
        if (!timerFd_.isValid()) {
            failBecause("timerfd_create");
        }
        for (int fd : {wakeFd_.get(), timerFd_.get()}) {
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.fd = fd;
            if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event) != 0) {
                failBecause("epoll_ctl");
            }
        }
    }

    EpollRunLoopBackend(const EpollRunLoopBackend&) = delete;
    EpollRunLoopBackend& operator=(const EpollRunLoopBackend&) = delete;

    double monotonicNow() const override {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
    }

    Date wallNow() const override { return std::chrono::system_clock::now(); }

    void wait(std::optional<double> timeoutSeconds, const std::vector<int>& fds,
              std::vector<int>& ready) override {
        if (!synced_ || fds != lastFds_) {
            sync(fds);
        }
        int milliseconds = 0;
        if (!timeoutSeconds || std::isinf(*timeoutSeconds)) {
            disarmTimer();
            milliseconds = -1;
        } else if (alwaysReady_.empty() && armTimer(*timeoutSeconds)) {
            milliseconds = -1;
        }
        events_.resize(registered_.size() + 2);
        const int count = ::epoll_wait(epoll_.get(), events_.data(),
                                       static_cast<int>(events_.size()), milliseconds);
        if (count < 0) {
            if (errno == EINTR) {
                return; // the loop comes straight back with a fresh timeout
            }
            std::perror("RunLoop: epoll_wait");
            std::abort();
        }
        for (int i = 0; i < count; ++i) {
            const int fd = events_[static_cast<std::size_t>(i)].data.fd;
            if (fd == wakeFd_.get()) {
                std::uint64_t wakes = 0;
                [[maybe_unused]] const ssize_t got = ::read(wakeFd_.get(), &wakes, sizeof wakes);
            } else if (fd == timerFd_.get()) {
                std::uint64_t expirations = 0;
                [[maybe_unused]] const ssize_t got =
                    ::read(timerFd_.get(), &expirations, sizeof expirations);
                timerArmed_ = false;
            } else {
                ready.push_back(fd);
            }
        }
        ready.insert(ready.end(), alwaysReady_.begin(), alwaysReady_.end());
    }

    void wake() override {
        const std::uint64_t one = 1;
        // EAGAIN means the counter is already non-zero, which is all a wake needs.
        [[maybe_unused]] const ssize_t written = ::write(wakeFd_.get(), &one, sizeof one);
    }

    void forgetDescriptor(int fd) override {
        if (const auto it = std::find(registered_.begin(), registered_.end(), fd);
            it != registered_.end()) {
            ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr);
            registered_.erase(it);
        }
        alwaysReady_.erase(std::remove(alwaysReady_.begin(), alwaysReady_.end(), fd),
                           alwaysReady_.end());
        synced_ = false;
    }

    int prepareExternalWait(std::optional<double> timeoutSeconds,
                            const std::vector<int>& fds) override {
        if (!synced_ || fds != lastFds_) {
            sync(fds);
        }
        if (!timeoutSeconds || std::isinf(*timeoutSeconds)) {
            disarmTimer();
        } else {
            // Due now (or a descriptor epoll cannot watch): the timer expires at once, so the
            // epoll descriptor is readable as soon as the driver looks.
            const bool immediate = !alwaysReady_.empty() || !(*timeoutSeconds > 0);
            armTimer(immediate ? 1e-9 : *timeoutSeconds);
        }
        return epoll_.get();
    }

private:
    void sync(const std::vector<int>& fds) {
        lastFds_ = fds;
        synced_ = true;
        std::vector<int> wanted = fds;
        std::sort(wanted.begin(), wanted.end());
        wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());

        for (int fd : registered_) {
            if (!std::binary_search(wanted.begin(), wanted.end(), fd)) {
                // Fails harmlessly when the owner already closed it: the kernel dropped it then.
                ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr);
            }
        }
        std::vector<int> registered;
        std::vector<int> alwaysReady;
        for (int fd : wanted) {
            if (std::binary_search(registered_.begin(), registered_.end(), fd)) {
                registered.push_back(fd);
                continue;
            }
            if (std::find(alwaysReady_.begin(), alwaysReady_.end(), fd) != alwaysReady_.end()) {
                alwaysReady.push_back(fd);
                continue;
            }
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.fd = fd;
            if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event) == 0) {
                registered.push_back(fd);
            } else if (errno == EPERM) {
                // Regular files and directories cannot be polled by epoll; poll() calls them
                // always readable, and so do we.
                alwaysReady.push_back(fd);
            } else {
                std::fprintf(stderr, "RunLoop: cannot watch descriptor %d: %s\n", fd,
                             std::generic_category().message(errno).c_str());
            }
        }
        registered_ = std::move(registered);
        alwaysReady_ = std::move(alwaysReady);
    }

    // Answers whether the wait should block until the timer (false: just look).
    bool armTimer(double seconds) {
        if (!(seconds > 0)) {
            return false;
        }
        // Rounded up: waking a nanosecond early would find the timer not yet due and wait again.
        const double capped = std::min(seconds, 1e9);
        const auto nanoseconds = static_cast<std::int64_t>(std::ceil(capped * 1e9));
        itimerspec expiry{};
        expiry.it_value.tv_sec = static_cast<time_t>(nanoseconds / 1'000'000'000);
        expiry.it_value.tv_nsec = static_cast<long>(nanoseconds % 1'000'000'000);
        if (::timerfd_settime(timerFd_.get(), 0, &expiry, nullptr) != 0) {
            std::perror("RunLoop: timerfd_settime");
            std::abort();
        }
        timerArmed_ = true;
        return true;
    }

    void disarmTimer() {
        if (!timerArmed_) {
            return;
        }
        // Disarming also clears an expiry nobody read, so a stale one cannot end a later wait.
        const itimerspec off{};
        ::timerfd_settime(timerFd_.get(), 0, &off, nullptr);
        timerArmed_ = false;
    }

    // Members go in reverse order: the timer and the wake close before the set that holds them.
    FileHandle epoll_;
    FileHandle wakeFd_;
    FileHandle timerFd_;
    bool timerArmed_ = false;
    bool synced_ = false;
    std::vector<int> lastFds_;     // the list as the loop last passed it, for a cheap comparison
    std::vector<int> registered_;  // sorted; in the epoll set
    std::vector<int> alwaysReady_; // sorted; descriptors epoll refuses
    std::vector<epoll_event> events_;
};

} // namespace

std::unique_ptr<RunLoopBackend> makeRealRunLoopBackend() {
    return std::make_unique<EpollRunLoopBackend>();
}

} // namespace scrivlet
