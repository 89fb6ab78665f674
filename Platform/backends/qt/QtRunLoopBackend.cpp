#include "Platform/backends/qt/QtRunLoopBackend.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <map>
#include <poll.h>
#include <time.h>

namespace scrivlet {

namespace {

class QtRunLoopBackend final : public RunLoopBackend {
public:
    explicit QtRunLoopBackend(QtRunLoopPump pump) : pump_(std::move(pump)) {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, &context_, [this] { runPump(); });
    }
    ~QtRunLoopBackend() override = default;
    QtRunLoopBackend(const QtRunLoopBackend&) = delete;
    QtRunLoopBackend& operator=(const QtRunLoopBackend&) = delete;

    double monotonicNow() const override {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
    }

    Date wallNow() const override { return std::chrono::system_clock::now(); }

    void wait(std::optional<double> /*timeoutSeconds*/, const std::vector<int>& fds,
              std::vector<int>& ready) override {
        follow(fds);
        std::vector<pollfd> polled;
        polled.reserve(fds.size());
        for (const int fd : fds) {
            polled.push_back({fd, POLLIN, 0});
        }
        if (polled.empty() || ::poll(polled.data(), polled.size(), 0) <= 0) {
            return;
        }
        for (const pollfd& entry : polled) {
            if ((entry.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                ready.push_back(entry.fd);
            }
        }
    }

    void wake() override {
        // Posted to Qt's thread once per burst; the pump takes everything queued by then.
        if (!wakePosted_.exchange(true)) {
            QMetaObject::invokeMethod(
                &context_,
                [this] {
                    wakePosted_.store(false);
                    runPump();
                },
                Qt::QueuedConnection);
        }
    }

    void forgetDescriptor(int fd) override {
        if (const auto found = notifiers_.find(fd); found != notifiers_.end()) {
            retire(found->second);
            notifiers_.erase(found);
        }
    }

private:
    // Qt watches exactly the descriptors the loop watches.
    void follow(const std::vector<int>& fds) {
        for (auto it = notifiers_.begin(); it != notifiers_.end();) {
            if (std::find(fds.begin(), fds.end(), it->first) == fds.end()) {
                retire(it->second);
                it = notifiers_.erase(it);
            } else {
                ++it;
            }
        }
        for (const int fd : fds) {
            if (notifiers_.contains(fd)) {
                continue;
            }
            auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            QObject::connect(notifier.get(), &QSocketNotifier::activated, &context_,
                             [this] { runPump(); });
            notifiers_.emplace(fd, std::move(notifier));
        }
    }

    // The notifier may be the one whose signal runs now: it goes once Qt is done with it.
    static void retire(std::unique_ptr<QSocketNotifier>& notifier) {
        notifier->setEnabled(false);
        notifier.release()->deleteLater();
    }

    void runPump() {
        // The pump's own callbacks never wait in Qt, so a nested call only comes from a
        // notifier that fired while a callback ran a nested Qt loop: the outer pump takes it.
        if (pumping_) {
            return;
        }
        pumping_ = true;
        std::optional<double> nextTimer;
        // Called from Qt's event handling, which no exception may cross.
        try {
            nextTimer = pump_();
        } catch (...) {
            nextTimer.reset();
        }
        pumping_ = false;
        if (nextTimer) {
            // Rounded up: a wake-up a little early would find the timer not yet due.
            timer_.start(static_cast<int>(std::min(std::ceil(*nextTimer * 1000), 1e9)));
        } else {
            timer_.stop();
        }
    }

    QtRunLoopPump pump_;
    QObject context_;
    QTimer timer_;
    std::map<int, std::unique_ptr<QSocketNotifier>> notifiers_;
    std::atomic<bool> wakePosted_{false};
    bool pumping_ = false;
};

} // namespace

std::unique_ptr<RunLoopBackend> makeQtRunLoopBackend(QtRunLoopPump pump) {
    return std::make_unique<QtRunLoopBackend>(std::move(pump));
}

} // namespace scrivlet
