#pragma once

#include <string>
#include <system_error>

namespace scrivlet {

// An error reported by a platform service: the underlying code and a sentence for people
// (the "localized description" callers put after their fixed message prefixes).
struct PlatformError {
    std::error_code code;
    std::string localizedDescription;
};

} // namespace scrivlet
