#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/Log.h"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace scrivlet {

// The unified log's Linux counterpart is the systemd journal: each record becomes one journal
// entry whose fields keep subsystem, category and level apart, so `journalctl
// SCRIVLET_SUBSYSTEM=com.scrivlet SCRIVLET_CATEGORY=store` filters the way `log stream
// --predicate` would.
class SCRIVLET_PLATFORM_API JournaldLogSink final : public LogSink {
public:
    // `processName` becomes SYSLOG_IDENTIFIER; empty leaves the journal's own guess.
    explicit JournaldLogSink(std::string processName);

    // A record the journal refuses (full socket buffer, oversized message) goes to stderr
    // instead of being lost. libsystemd reports success when there is no journal at all, which
    // is why makeSystemLogSink decides up front. Debug records are left out unless
    // SCRIVLET_LOG_DEBUG is set, like the stderr sink and like the unified log, which keeps
    // none by default.
    void write(const LogRecord& record) override;

private:
    std::string processName_;
    bool keepDebug_;
    std::shared_ptr<LogSink> fallback_;
};

// syslog priority for a level: Debug 7, Info 6, Default 5, Error 3, Fault 2.
SCRIVLET_PLATFORM_API int journalPriority(LogLevel level);

// The "KEY=value" fields sent for one record, in sending order; texts as escapeLogText
// writes them.
SCRIVLET_PLATFORM_API std::vector<std::string> journalFields(const LogRecord& record,
                                                             std::string_view processName);

inline constexpr const char* journalSocketPath = "/run/systemd/journal/socket";

// The journal sink when the journal's socket is there, else the stderr sink (containers and
// sessions without systemd). SCRIVLET_LOG_TO_STDERR=1 in the environment chooses stderr
// whatever the machine has, for a terminal session or a script that reads the log.
// `journalSocket` exists for tests.
std::shared_ptr<LogSink> SCRIVLET_PLATFORM_API makeSystemLogSink(
    const std::string& identifier, const std::filesystem::path& journalSocket = journalSocketPath);

} // namespace scrivlet
