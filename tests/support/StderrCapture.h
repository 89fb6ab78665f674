#pragma once

#include "Platform/base/Log.h"
#include "tests/support/TempHome.h"

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace scrivlet {

// While it lives, the process's stderr goes to `file` and the log goes through the stderr
// sink, so that a test reads the lines exactly as a terminal or a log file would get them.
class StderrCapture {
public:
    explicit StderrCapture(std::filesystem::path file)
        : file_(std::move(file)), previousSink_(currentLogSink()) {
        std::fflush(stderr);
        savedStderr_ = ::dup(STDERR_FILENO);
        const int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (savedStderr_ >= 0 && fd >= 0) {
            ::dup2(fd, STDERR_FILENO);
        }
        if (fd >= 0) {
            ::close(fd);
        }
        setLogSink(makeStderrLogSink());
    }
    ~StderrCapture() {
        setLogSink(previousSink_);
        std::fflush(stderr);
        if (savedStderr_ >= 0) {
            ::dup2(savedStderr_, STDERR_FILENO);
            ::close(savedStderr_);
        }
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // What was written so far, one entry per line (the text between newlines).
    std::vector<std::string> lines() const {
        std::fflush(stderr);
        std::istringstream text(readWholeFile(file_));
        std::vector<std::string> result;
        for (std::string line; std::getline(text, line);) {
            result.push_back(line);
        }
        return result;
    }

private:
    std::filesystem::path file_;
    std::shared_ptr<LogSink> previousSink_;
    int savedStderr_ = -1;
};

} // namespace scrivlet
