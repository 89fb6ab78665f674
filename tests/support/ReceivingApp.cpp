#include "tests/support/ReceivingApp.h"

#include "Platform/base/RunLoop.h"
#include "Platform/base/URLComponents.h"
#include "Platform/system/URLReceiver.h"

#include <chrono>

namespace scrivlet {

using namespace std::chrono_literals;

ReceivingApp::ReceivingApp() {
    thread_ = std::thread([this] { receive(); });
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return loop_ != nullptr; });
}

ReceivingApp::~ReceivingApp() {
    {
        const std::lock_guard lock(mutex_);
        loop_->stop();
    }
    thread_.join();
}

void ReceivingApp::receive() {
    RunLoop loop(makeRealRunLoopBackend());
    std::error_code error;
    auto receiver = URLReceiver::claim("scrivlet", error);
    if (receiver) {
        receiver->start(loop, [this](const std::vector<URL>& urls) {
            const std::lock_guard lock(mutex_);
            // As the app reads a command: its action and the path it names.
            for (const URL& url : urls) {
                const auto components = URLComponents::fromURL(url);
                received_.push_back(components->host().value_or("") + " " +
                                    components->firstValue("path").value_or(""));
            }
            changed_.notify_all();
        });
    }
    {
        const std::lock_guard lock(mutex_);
        loop_ = &loop;
        listening_ = receiver != nullptr;
        changed_.notify_all();
    }
    loop.run();
    const std::lock_guard lock(mutex_);
    loop_ = nullptr;
}

bool ReceivingApp::listening() {
    const std::lock_guard lock(mutex_);
    return listening_;
}

std::vector<std::string> ReceivingApp::waitForURLs(std::size_t count,
                                                   const std::function<void()>& meanwhile) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    std::unique_lock lock(mutex_);
    if (!meanwhile) {
        changed_.wait_until(lock, deadline, [&] { return received_.size() >= count; });
        return received_;
    }
    while (received_.size() < count && std::chrono::steady_clock::now() < deadline) {
        lock.unlock();
        meanwhile();
        std::this_thread::sleep_for(2ms);
        lock.lock();
    }
    return received_;
}

} // namespace scrivlet
