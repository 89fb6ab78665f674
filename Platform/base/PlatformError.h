#pragma once

#include "Platform/base/Export.h"

#include <string>
#include <system_error>

namespace scrivlet {

// An error reported by a platform service: the underlying code and a sentence for people
// (the "localized description" callers put after their fixed message prefixes).
struct SCRIVLET_PLATFORM_API PlatformError {
    std::error_code code;
    std::string localizedDescription;
};

} // namespace scrivlet
