#include "Platform/ui/DateFormatting.h"

#include <array>
#include <ctime>

namespace scrivlet {

namespace ui {

namespace {

constexpr std::array<const char*, 12> monthAbbreviations{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string twoDigits(int value) {
    return std::string(1, static_cast<char>('0' + value / 10)) +
           static_cast<char>('0' + value % 10);
}

std::string datePart(const std::tm& local, DateStyle style) {
    const std::string year = std::to_string(local.tm_year + 1900);
    switch (style) {
    case DateStyle::omitted:
        return {};
    case DateStyle::numeric:
        return std::to_string(local.tm_mon + 1) + "/" + std::to_string(local.tm_mday) + "/" + year;
    case DateStyle::abbreviated:
        return std::string(monthAbbreviations.at(static_cast<std::size_t>(local.tm_mon))) + " " +
               std::to_string(local.tm_mday) + ", " + year;
    }
    return {};
}

std::string timePart(const std::tm& local, TimeStyle style) {
    if (style == TimeStyle::omitted) {
        return {};
    }
    const int hour12 = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
    std::string text = std::to_string(hour12) + ":" + twoDigits(local.tm_min);
    if (style == TimeStyle::standard) {
        text += ":" + twoDigits(local.tm_sec);
    }
    return text + (local.tm_hour < 12 ? " AM" : " PM");
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
    std::string day = datePart(local, dateStyle);
    std::string clock = timePart(local, timeStyle);
    if (day.empty() || clock.empty()) {
        return day + clock;
    }
    // The abbreviated style reads as a phrase; the numeric one as a list.
    return day + (dateStyle == DateStyle::abbreviated ? " at " : ", ") + clock;
}

} // namespace ui

} // namespace scrivlet
