#include "Platform/system/JournaldLogSink.h"

#include <cstdlib>
#include <sys/stat.h>
#include <sys/uio.h>
#include <syslog.h>

// Otherwise every entry would carry CODE_FILE/CODE_LINE of this sink, which says nothing
// about where the record came from.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

namespace scrivlet {

JournaldLogSink::JournaldLogSink(std::string processName)
    : processName_(std::move(processName)),
      keepDebug_(std::getenv("SCRIVLET_LOG_DEBUG") != nullptr), fallback_(makeStderrLogSink()) {}

void JournaldLogSink::write(const LogRecord& record) {
    if (record.level == LogLevel::Debug && !keepDebug_) {
        return;
    }
    const std::vector<std::string> fields = journalFields(record, processName_);
    std::vector<iovec> vectors;
    vectors.reserve(fields.size());
    for (const std::string& field : fields) {
        // The journal only reads the buffers; the iovec type just has no const member.
        vectors.push_back(iovec{const_cast<char*>(field.data()), field.size()});
    }
    if (sd_journal_sendv(vectors.data(), static_cast<int>(vectors.size())) < 0) {
        fallback_->write(record);
    }
}

int journalPriority(LogLevel level) {
    switch (level) {
    case LogLevel::Debug:
        return LOG_DEBUG;
    case LogLevel::Info:
        return LOG_INFO;
    case LogLevel::Default:
        return LOG_NOTICE;
    case LogLevel::Error:
        return LOG_ERR;
    case LogLevel::Fault:
        return LOG_CRIT;
    }
    return LOG_NOTICE;
}

std::vector<std::string> journalFields(const LogRecord& record, std::string_view processName) {
    // sd_journal_sendv frames each field with its length, so a newline would not end the
    // field; it would still split the message wherever the journal is read as lines.
    std::vector<std::string> fields;
    fields.reserve(6);
    fields.push_back("MESSAGE=" + escapeLogText(record.message));
    fields.push_back("PRIORITY=" + std::to_string(journalPriority(record.level)));
    if (!processName.empty()) {
        fields.push_back("SYSLOG_IDENTIFIER=" + std::string(processName));
    }
    if (!record.subsystem.empty()) {
        fields.push_back("SCRIVLET_SUBSYSTEM=" + escapeLogText(record.subsystem));
    }
    if (!record.category.empty()) {
        fields.push_back("SCRIVLET_CATEGORY=" + escapeLogText(record.category));
    }
    if (record.isNSLog) {
        fields.emplace_back("SCRIVLET_NSLOG=1");
    }
    return fields;
}

std::shared_ptr<LogSink> makeSystemLogSink(const std::string& identifier,
                                           const std::filesystem::path& journalSocket) {
    const char* forced = std::getenv("SCRIVLET_LOG_TO_STDERR");
    if (forced != nullptr && std::string_view(forced) == "1") {
        return makeStderrLogSink();
    }
    struct stat info {};
    if (::stat(journalSocket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
        return std::make_shared<JournaldLogSink>(identifier);
    }
    return makeStderrLogSink();
}

} // namespace scrivlet
