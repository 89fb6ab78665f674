#include "Platform/ui/DateFormatting.h"

#include <array>
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <langinfo.h>
#include <locale.h>

namespace scrivlet {

namespace ui {

namespace {

// The name the user chose for LC_TIME, in the C library's order of precedence.
std::string timeLocaleName() {
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return "C";
}

// The C library's LC_TIME data for the user's locale; the C locale when that one is not
// installed, so a date is always readable.
class TimeLocale {
public:
    TimeLocale() : name_(timeLocaleName()) {
        handle_ = newlocale(LC_TIME_MASK, name_.c_str(), static_cast<locale_t>(nullptr));
        if (handle_ == static_cast<locale_t>(nullptr)) {
            name_ = "C";
            handle_ = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
        }
    }
    ~TimeLocale() {
        if (handle_ != static_cast<locale_t>(nullptr)) {
            freelocale(handle_);
        }
    }
    TimeLocale(const TimeLocale&) = delete;
    TimeLocale& operator=(const TimeLocale&) = delete;

    // English and the C locale keep the English phrase; the language is what counts, so
    // en_GB and en_US.UTF-8 both do.
    bool isEnglish() const {
        return name_ == "C" || name_ == "POSIX" || name_.starts_with("C.") || name_ == "en" ||
               name_.starts_with("en_") || name_.starts_with("en.") || name_.starts_with("en@");
    }

    std::string format(const std::string& pattern, const std::tm& local) const {
        std::array<char, 256> buffer{};
        const std::size_t length =
            strftime_l(buffer.data(), buffer.size(), pattern.c_str(), &local, handle_);
        return std::string(buffer.data(), length);
    }

    std::string item(nl_item which) const { return nl_langinfo_l(which, handle_); }

private:
    std::string name_;
    locale_t handle_;
};

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// The locale's time representation without its seconds.
std::string withoutSeconds(std::string pattern) {
    replaceAll(pattern, "%T", "%H:%M");
    replaceAll(pattern, "%r", "%I:%M %p");
    replaceAll(pattern, ":%S", "");
    replaceAll(pattern, ".%S", "");
    return pattern;
}

std::string englishPattern(DateStyle dateStyle, TimeStyle timeStyle) {
    std::string day;
    if (dateStyle == DateStyle::numeric) {
        day = "%-m/%-d/%Y";
    } else if (dateStyle == DateStyle::abbreviated) {
        day = "%b %-d, %Y";
    }
    std::string clock;
    if (timeStyle == TimeStyle::shortened) {
        clock = "%-I:%M %p";
    } else if (timeStyle == TimeStyle::standard) {
        clock = "%-I:%M:%S %p";
    }
    if (day.empty() || clock.empty()) {
        return day + clock;
    }
    // The abbreviated style reads as a phrase; the numeric one as a list.
    return day + (dateStyle == DateStyle::abbreviated ? " at " : ", ") + clock;
}

std::string localPattern(const TimeLocale& locale, DateStyle dateStyle, TimeStyle timeStyle) {
    // The C library keeps one date representation per locale; both styles use it.
    const std::string day = dateStyle == DateStyle::omitted ? "" : "%x";
    std::string clock;
    if (timeStyle != TimeStyle::omitted) {
        std::string time = locale.item(T_FMT);
        if (time.empty()) {
            time = locale.item(T_FMT_AMPM);
        }
        clock = timeStyle == TimeStyle::shortened ? withoutSeconds(time) : time;
    }
    if (day.empty() || clock.empty()) {
        return day + clock;
    }
    return day + ", " + clock;
}

} // namespace

std::string formatted(Date date, DateStyle dateStyle, TimeStyle timeStyle) {
    // Floor, not truncate: an instant just before 1970 is still in 1969.
    const auto seconds = std::chrono::floor<std::chrono::seconds>(date.time_since_epoch());
    const std::time_t time = static_cast<std::time_t>(seconds.count());
    std::tm local{};
    if (localtime_r(&time, &local) == nullptr) {
        return {};
    }
    const TimeLocale locale;
    const std::string pattern = locale.isEnglish() ? englishPattern(dateStyle, timeStyle)
                                                   : localPattern(locale, dateStyle, timeStyle);
    return locale.format(pattern, local);
}

} // namespace ui

} // namespace scrivlet
