#pragma once

#include "Platform/base/Log.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace scrivlet {

// Collects every log record written while it lives, instead of printing them.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogRecord> records() const;
    // Rendered messages of one category (NSLog lines when `category` is empty), as the log
    // shows them at its default level: debug lines are left out.
    std::vector<std::string> messages(const std::string& category) const;
    // Messages of every category of the unified log (no NSLog lines, no debug lines).
    std::vector<std::string> allMessages() const;
    bool contains(const std::string& fragment) const;
    // How many NSLog lines (at the default level) hold `fragment`.
    std::size_t nsLogLinesWith(const std::string& fragment) const;
    void clear();

private:
    class Sink;
    std::shared_ptr<Sink> sink_;
    std::shared_ptr<LogSink> previous_;
};

} // namespace scrivlet
