#pragma once

#include "Platform/base/Export.h"

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace scrivlet {

// Unified-logging stand-in: subsystem, category, level and a format whose arguments are
// marked public or private. Private arguments never reach a sink in clear text.

enum class LogLevel { Debug, Info, Default, Error, Fault };

SCRIVLET_PLATFORM_API const char* logLevelName(LogLevel level);

struct SCRIVLET_PLATFORM_API LogRecord {
    std::string subsystem; // empty for NSLog lines
    std::string category;  // empty for NSLog lines
    LogLevel level = LogLevel::Default;
    std::string message; // already rendered, private arguments shown as "<private>"
    bool isNSLog = false;
};

// Records reach a sink as they were logged; the sinks that write them out (stderr, the
// journal) pass every text through escapeLogText.
class SCRIVLET_PLATFORM_API LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(const LogRecord& record) = 0;
};

// A logged text as the sinks write it: one record stays one line and cannot pass for
// another, in a terminal, a file or the journal. Printable text, non-ASCII UTF-8 included,
// stays byte for byte. A backslash becomes "\\"; newline, carriage return and tab "\n",
// "\r" and "\t"; other C0 controls and DEL "\xNN"; the C1 controls and the Unicode line and
// paragraph separators "\uNNNN"; each byte that is not part of valid UTF-8 "\xNN" (hex digits
// in capitals).
SCRIVLET_PLATFORM_API std::string escapeLogText(std::string_view text);

// One sink per process; stderr until someone installs another. Safe from any thread.
// The stderr sink leaves out debug lines unless SCRIVLET_LOG_DEBUG is set.
SCRIVLET_PLATFORM_API void setLogSink(std::shared_ptr<LogSink> sink);
SCRIVLET_PLATFORM_API std::shared_ptr<LogSink> currentLogSink();
SCRIVLET_PLATFORM_API std::shared_ptr<LogSink> makeStderrLogSink();

// Renders an os_log style format. Supported: %{public}s, %{private}s, %{public}@,
// %{private}@, %s and %@ (private unless marked public, as the system does), %d (public), %%.
// Missing arguments render as "<missing>"; extra ones are ignored.
SCRIVLET_PLATFORM_API std::string renderLogFormat(std::string_view format,
                                                  const std::vector<std::string>& args,
                                                  bool revealPrivate = false);

class SCRIVLET_PLATFORM_API Logger {
public:
    Logger(std::string subsystem, std::string category);

    void log(LogLevel level, std::string_view format,
             const std::vector<std::string>& args = {}) const;
    void debug(std::string_view format, const std::vector<std::string>& args = {}) const {
        log(LogLevel::Debug, format, args);
    }
    void info(std::string_view format, const std::vector<std::string>& args = {}) const {
        log(LogLevel::Info, format, args);
    }
    void error(std::string_view format, const std::vector<std::string>& args = {}) const {
        log(LogLevel::Error, format, args);
    }

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

private:
    std::string subsystem_;
    std::string category_;
};

// Foundation's NSLog: a plain line, arguments shown in full, kept apart from the unified log.
SCRIVLET_PLATFORM_API void NSLog(std::string_view format,
                                 const std::vector<std::string>& args = {});

} // namespace scrivlet
