#include "Platform/base/Log.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <unistd.h>
#include <utf8proc.h>

namespace scrivlet {

namespace {

std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<LogSink>& sinkSlot() {
    static std::shared_ptr<LogSink> sink = makeStderrLogSink();
    return sink;
}

void appendEscape(std::string& out, const char* format, unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, format, value);
    out += text;
}

// Anything but printable ASCII other than the backslash needs a closer look.
bool needsEscaping(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte >= 0x7f || c == '\\';
}

// One decoded character: kept as its bytes unless it could break or forge a line.
void appendCharacter(std::string& out, utf8proc_int32_t character, std::string_view bytes) {
    switch (character) {
    case '\\':
        out += "\\\\";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\t':
        out += "\\t";
        return;
    default:
        break;
    }
    const utf8proc_category_t category = utf8proc_category(character);
    if (category == UTF8PROC_CATEGORY_CC && character < 0x80) {
        appendEscape(out, "\\x%02X", static_cast<unsigned>(character));
    } else if (category == UTF8PROC_CATEGORY_CC || category == UTF8PROC_CATEGORY_ZL ||
               category == UTF8PROC_CATEGORY_ZP) {
        appendEscape(out, "\\u%04X", static_cast<unsigned>(character));
    } else {
        out += bytes;
    }
}

std::string timestamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03lld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<long long>(millis));
    return text;
}

class StderrLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override {
        if (record.level == LogLevel::Debug && !showDebug_) {
            return;
        }
        std::string line = timestamp() + " [" + std::to_string(::getpid()) + "] ";
        if (!record.isNSLog) {
            line += std::string("<") + logLevelName(record.level) + "> " +
                    escapeLogText(record.subsystem) + ":" + escapeLogText(record.category) + " ";
        }
        line += escapeLogText(record.message);
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stderr);
    }

private:
    bool showDebug_ = std::getenv("SCRIVLET_LOG_DEBUG") != nullptr;
};

void emit(const LogRecord& record) {
    std::shared_ptr<LogSink> sink = currentLogSink();
    if (sink) {
        sink->write(record);
    }
}

} // namespace

const char* logLevelName(LogLevel level) {
    switch (level) {
    case LogLevel::Debug:
        return "Debug";
    case LogLevel::Info:
        return "Info";
    case LogLevel::Default:
        return "Notice";
    case LogLevel::Error:
        return "Error";
    case LogLevel::Fault:
        return "Fault";
    }
    return "Notice";
}

std::string escapeLogText(std::string_view text) {
    if (std::none_of(text.begin(), text.end(), needsEscaping)) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size() + 16);
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    std::size_t next = 0;
    while (next < text.size()) {
        utf8proc_int32_t character = -1;
        const utf8proc_ssize_t length = utf8proc_iterate(
            bytes + next, static_cast<utf8proc_ssize_t>(text.size() - next), &character);
        if (length <= 0) {
            // Not UTF-8: this byte alone is shown; decoding starts again at the next one.
            appendEscape(out, "\\x%02X", bytes[next]);
            ++next;
            continue;
        }
        const auto size = static_cast<std::size_t>(length);
        appendCharacter(out, character, text.substr(next, size));
        next += size;
    }
    return out;
}

void setLogSink(std::shared_ptr<LogSink> sink) {
    std::lock_guard lock(sinkMutex());
    sinkSlot() = std::move(sink);
}

std::shared_ptr<LogSink> currentLogSink() {
    std::lock_guard lock(sinkMutex());
    return sinkSlot();
}

std::shared_ptr<LogSink> makeStderrLogSink() {
    return std::make_shared<StderrLogSink>();
}

std::string renderLogFormat(std::string_view format, const std::vector<std::string>& args,
                            bool revealPrivate) {
    std::string out;
    out.reserve(format.size() + 32);
    std::size_t next = 0;
    auto takeArgument = [&](bool isPublic) {
        if (next >= args.size()) {
            out += "<missing>";
        } else if (isPublic || revealPrivate) {
            out += args[next];
        } else {
            out += "<private>";
        }
        ++next;
    };
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 == format.size()) {
            out += format[i];
            continue;
        }
        const std::string_view rest = format.substr(i + 1);
        bool isPublic = false;
        std::size_t consumed = 0;
        if (rest.starts_with("{public}")) {
            isPublic = true;
            consumed = 8;
        } else if (rest.starts_with("{private}")) {
            consumed = 9;
        }
        const char conversion = consumed < rest.size() ? rest[consumed] : '\0';
        if (consumed == 0 && conversion == '%') {
            out += '%';
            ++i;
        } else if (conversion == 's' || conversion == '@') {
            takeArgument(isPublic);
            i += consumed + 1;
        } else if (conversion == 'd' || conversion == 'u') {
            takeArgument(true);
            i += consumed + 1;
        } else {
            out += '%';
        }
    }
    return out;
}

Logger::Logger(std::string subsystem, std::string category)
    : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

void Logger::log(LogLevel level, std::string_view format,
                 const std::vector<std::string>& args) const {
    emit(LogRecord{subsystem_, category_, level, renderLogFormat(format, args), false});
}

void NSLog(std::string_view format, const std::vector<std::string>& args) {
    emit(LogRecord{{}, {}, LogLevel::Default, renderLogFormat(format, args, true), true});
}

} // namespace scrivlet
