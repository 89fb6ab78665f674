#pragma once

#include "Platform/Clock.h"
#include "Platform/Export.h"

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

// `date` in the local time zone (TZ, as last read by tzset) in the given styles, e.g.
// "Dec 7, 2026 at 12:00 PM" for abbreviated and shortened. The interface ships English
// only, so dates use the English (United States) patterns in every locale rather than
// mixing a translated date into English sentences.
SCRIVLET_PLATFORM_API std::string formatted(Date date, DateStyle dateStyle, TimeStyle timeStyle);

} // namespace ui

} // namespace scrivlet
