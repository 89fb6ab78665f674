#include "Platform/RunLoop.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <poll.h>

namespace scrivlet {

namespace {

// Time that moves only when the loop sets it. It is kept in whole nanoseconds so that the loop's
// own nanosecond arithmetic survives the trip through the double-valued interface exactly:
// 120 steps of 1/120 s land on the same instants as a timer ticking 120 times.
class VirtualRunLoopBackend final : public RunLoopBackend {
public:
    explicit VirtualRunLoopBackend(Date start) : start_(start) {}

    double monotonicNow() const override {
        return static_cast<double>(nanoseconds_.load(std::memory_order_relaxed)) / 1e9;
    }

    Date wallNow() const override {
        const std::chrono::nanoseconds offset(nanoseconds_.load(std::memory_order_relaxed));
        return start_ + std::chrono::duration_cast<Date::duration>(offset);
    }

    void wait(std::optional<double> /*timeoutSeconds*/, const std::vector<int>& fds,
              std::vector<int>& ready) override {
        if (fds.empty()) {
            return;
        }
        polled_.resize(fds.size());
        for (std::size_t i = 0; i < fds.size(); ++i) {
            polled_[i] = pollfd{fds[i], POLLIN, 0};
        }
        int count = 0;
        do {
            count = ::poll(polled_.data(), polled_.size(), 0);
        } while (count < 0 && errno == EINTR);
        if (count <= 0) {
            return;
        }
        for (const pollfd& entry : polled_) {
            // A closed writer or an error is "readable" too: the read that follows reports it,
            // and a source that never hears about it would wait forever.
            if ((entry.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                ready.push_back(entry.fd);
            }
        }
    }

    void wake() override {}
    bool isVirtual() const override { return true; }

    void setVirtualTime(double monotonicSeconds) override {
        if (!std::isfinite(monotonicSeconds)) {
            std::fprintf(stderr, "RunLoopBackend::setVirtualTime needs a finite time\n");
            std::abort();
        }
        const std::int64_t target = std::llround(monotonicSeconds * 1e9);
        if (target > nanoseconds_.load(std::memory_order_relaxed)) {
            nanoseconds_.store(target, std::memory_order_relaxed);
        }
    }

private:
    const Date start_;
    // Written by the owning thread only; atomic so that now() may be read from anywhere.
    std::atomic<std::int64_t> nanoseconds_{0};
    std::vector<pollfd> polled_;
};

} // namespace

std::unique_ptr<RunLoopBackend> makeVirtualRunLoopBackend(Date start) {
    return std::make_unique<VirtualRunLoopBackend>(start);
}

} // namespace scrivlet
