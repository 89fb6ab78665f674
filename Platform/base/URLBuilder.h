#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/URL.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace scrivlet {

// Puts a URL together from its parts (scheme, host, query items, then the finished URL),
// percent-encoding every byte of the host and of each item's name and value that is not an
// unreserved character, so a reader that splits the query at "&" and "=" and decodes the
// escapes gets back exactly the bytes given ("+" included).
struct SCRIVLET_PLATFORM_API URLBuilder {
    std::string scheme;
    std::string host;
    std::vector<std::pair<std::string, std::string>> queryItems;

    // Nothing when no URL can be formed: a scheme that is not one, or a part holding a NUL
    // byte (which no URL text can carry through the system's calls).
    std::optional<URL> url() const;
};

} // namespace scrivlet
