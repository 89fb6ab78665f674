#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/URL.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scrivlet {

// One "name=value" item of a URL's query, percent-decoded. A value may hold any byte,
// NUL included; an item written without "=" has no value at all.
struct SCRIVLET_PLATFORM_API URLQueryItem {
    std::string name;
    std::optional<std::string> value;
    friend bool operator==(const URLQueryItem&, const URLQueryItem&) = default;
};

// A URL taken apart as RFC 3986 reads it, without resolving it against a base. Query items
// are split at "&" and at their first "="; percent escapes are decoded and a "+" stays a
// plus sign (the form encoding's space does not apply to URLs).
class SCRIVLET_PLATFORM_API URLComponents {
public:
    // Nothing when the text of `url` cannot be taken apart.
    static std::optional<URLComponents> fromURL(const URL& url);

    const std::optional<std::string>& scheme() const { return scheme_; }
    // Decoded; nothing when the URL has no authority.
    const std::optional<std::string>& host() const { return host_; }
    // Nothing when the URL has no query; an empty query has no items.
    const std::optional<std::vector<URLQueryItem>>& queryItems() const { return queryItems_; }

    // The value of the first item named exactly `name`, when it has one.
    std::optional<std::string> firstValue(std::string_view name) const;

private:
    std::optional<std::string> scheme_;
    std::optional<std::string> host_;
    std::optional<std::vector<URLQueryItem>> queryItems_;
};

// RFC 3986 decoding of `text`; nothing when an escape is not "%" and two hex digits.
SCRIVLET_PLATFORM_API std::optional<std::string> percentDecoded(std::string_view text);

} // namespace scrivlet
