#include "Platform/base/FileHandle.h"
#include "Platform/control/VirtualClock.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace scrivlet {

namespace {

// Time is kept in whole nanoseconds so that the loop's own nanosecond arithmetic survives the
// trip through the double-valued interface exactly: 120 steps of 1/120 s land on the same
// instants as a timer ticking 120 times.
class VirtualRunLoopBackend final : public RunLoopBackend {
public:
    explicit VirtualRunLoopBackend(Date start)
        : start_(start), wakeFD_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        if (!wakeFD_.isValid()) {
            std::perror("virtual run loop: eventfd");
            std::abort();
        }
    }
    VirtualRunLoopBackend(const VirtualRunLoopBackend&) = delete;
    VirtualRunLoopBackend& operator=(const VirtualRunLoopBackend&) = delete;

    double monotonicNow() const override {
        return static_cast<double>(nanoseconds_.load(std::memory_order_relaxed)) / 1e9;
    }

    Date wallNow() const override {
        const std::chrono::nanoseconds offset(nanoseconds_.load(std::memory_order_relaxed));
        return start_ + std::chrono::duration_cast<Date::duration>(offset);
    }

    void wait(std::optional<double> timeoutSeconds, const std::vector<int>& fds,
              std::vector<int>& ready) override {
        const bool woken = poll(fds, ready, timeoutSeconds ? 0 : -1);
        if (!ready.empty() || woken || !timeoutSeconds) {
            return;
        }
        // Nothing is ready, so the whole timeout passes at once.
        if (!std::isfinite(*timeoutSeconds) || *timeoutSeconds < 0) {
            std::fprintf(stderr, "virtual run loop: cannot wait %f seconds\n", *timeoutSeconds);
            std::abort();
        }
        nanoseconds_.fetch_add(std::llround(*timeoutSeconds * 1e9), std::memory_order_relaxed);
    }

    void wake() override {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFD_.get(), &one, sizeof one);
    }

private:
    // Polls the sources and the wake-up descriptor; answers whether a wake-up ended the poll.
    bool poll(const std::vector<int>& fds, std::vector<int>& ready, int timeoutMilliseconds) {
        polled_.assign(1, pollfd{wakeFD_.get(), POLLIN, 0});
        for (const int fd : fds) {
            polled_.push_back(pollfd{fd, POLLIN, 0});
        }
        int count = 0;
        do {
            count = ::poll(polled_.data(), polled_.size(), timeoutMilliseconds);
        } while (count < 0 && errno == EINTR);
        if (count <= 0) {
            return false;
        }
        for (std::size_t i = 1; i < polled_.size(); ++i) {
            // A closed writer or an error is "readable" too: the read that follows reports it,
            // and a source that never hears about it would wait forever.
            if ((polled_[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                ready.push_back(polled_[i].fd);
            }
        }
        if ((polled_[0].revents & POLLIN) == 0) {
            return false;
        }
        std::uint64_t drained = 0;
        [[maybe_unused]] const ssize_t read = ::read(wakeFD_.get(), &drained, sizeof drained);
        return true;
    }

    const Date start_;
    // Written by the owning thread only; atomic so that now() may be read from anywhere.
    std::atomic<std::int64_t> nanoseconds_{0};
    const FileHandle wakeFD_;
    std::vector<pollfd> polled_;
};

} // namespace

std::unique_ptr<RunLoopBackend> makeVirtualRunLoopBackend(Date start) {
    return std::make_unique<VirtualRunLoopBackend>(start);
}

} // namespace scrivlet
