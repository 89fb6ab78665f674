#pragma once

#include "Platform/base/Clock.h"
#include "Platform/base/Export.h"

#include <string>

namespace scrivlet {

namespace ui {

enum class DateStyle {
    omitted,
    numeric,     // 12/7/2026
    abbreviated, // Dec 7, 2026
};

enum class TimeStyle {
    omitted,
    shortened, // 12:00 PM
    standard,  // 12:00:00 PM
};

// `date` in the local time zone (TZ, as last read by tzset) in the given styles, following
// the user's time locale (LC_ALL, else LC_TIME, else LANG, read at every call). English
// locales, and the C locale that stands in for a locale that is not installed, read
// "Dec 7, 2026 at 12:00 PM" for abbreviated and shortened; other locales use their own date
// and time representations from the C library's locale data, e.g. "07.12.2026, 12:00".
SCRIVLET_PLATFORM_API std::string formatted(Date date, DateStyle dateStyle, TimeStyle timeStyle);

} // namespace ui

} // namespace scrivlet
