#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace scrivlet {

class RunLoop;

// The running app's end of URL delivery, on a thread of its own, for the tests of an extension
// that sends commands to the app: each command it received, as the app reads one, "ACTION PATH".
class ReceivingApp {
public:
    ReceivingApp();
    ~ReceivingApp();
    ReceivingApp(const ReceivingApp&) = delete;
    ReceivingApp& operator=(const ReceivingApp&) = delete;

    // False when another process holds the scheme's address.
    bool listening();
    // What was received once `count` commands came, or after 5 seconds. `meanwhile` runs
    // between looks, for a test whose own loop must turn for the commands to leave.
    std::vector<std::string> waitForURLs(std::size_t count,
                                         const std::function<void()>& meanwhile = {});

private:
    void receive();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> received_;
    RunLoop* loop_ = nullptr;
    bool listening_ = false;
    std::thread thread_;
};

} // namespace scrivlet
