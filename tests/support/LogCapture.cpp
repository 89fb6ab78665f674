#include "tests/support/LogCapture.h"

#include <algorithm>

namespace scrivlet {

class LogCapture::Sink final : public LogSink {
public:
    void write(const LogRecord& record) override {
        std::lock_guard lock(mutex);
        records.push_back(record);
    }
    mutable std::mutex mutex;
    std::vector<LogRecord> records;
};

LogCapture::LogCapture() : sink_(std::make_shared<Sink>()), previous_(currentLogSink()) {
    setLogSink(sink_);
}

LogCapture::~LogCapture() {
    setLogSink(previous_);
}

std::vector<LogRecord> LogCapture::records() const {
    std::lock_guard lock(sink_->mutex);
    return sink_->records;
}

std::vector<std::string> LogCapture::messages(const std::string& category) const {
    std::vector<std::string> result;
    for (const LogRecord& record : records()) {
        if (record.category == category && (record.isNSLog == category.empty()) &&
            record.level != LogLevel::Debug) {
            result.push_back(record.message);
        }
    }
    return result;
}

std::vector<std::string> LogCapture::allMessages() const {
    std::vector<std::string> result;
    for (const LogRecord& record : records()) {
        if (!record.isNSLog && record.level != LogLevel::Debug) {
            result.push_back(record.message);
        }
    }
    return result;
}

bool LogCapture::contains(const std::string& fragment) const {
    for (const LogRecord& record : records()) {
        if (record.message.find(fragment) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::size_t LogCapture::nsLogLinesWith(const std::string& fragment) const {
    const auto lines = messages("");
    return static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(fragment) != std::string::npos;
        }));
}

void LogCapture::clear() {
    std::lock_guard lock(sink_->mutex);
    sink_->records.clear();
}

} // namespace scrivlet
