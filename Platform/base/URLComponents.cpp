#include "Platform/base/URLComponents.h"

#include <cctype>
#include <uriparser/Uri.h>

namespace scrivlet {

namespace {

bool isHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool hasOnlyWellFormedEscapes(std::string_view text) {
    for (std::size_t at = text.find('%'); at != std::string_view::npos;
         at = text.find('%', at + 3)) {
        if (at + 2 >= text.size() || !isHexDigit(text[at + 1]) || !isHexDigit(text[at + 2])) {
            return false;
        }
    }
    return true;
}

std::optional<URLQueryItem> decodedItem(std::string_view text) {
    const std::size_t equals = text.find('=');
    auto name = percentDecoded(text.substr(0, equals));
    if (!name) {
        return std::nullopt;
    }
    URLQueryItem item{std::move(*name), std::nullopt};
    if (equals != std::string_view::npos) {
        item.value = percentDecoded(text.substr(equals + 1));
        if (!item.value) {
            return std::nullopt;
        }
    }
    return item;
}

// Items are separated by "&" only; an empty query has none.
std::optional<std::vector<URLQueryItem>> splitQuery(std::string_view query) {
    std::vector<URLQueryItem> items;
    if (query.empty()) {
        return items;
    }
    for (std::size_t start = 0;;) {
        const std::size_t end = query.find('&', start);
        auto item = decodedItem(query.substr(start, end - start));
        if (!item) {
            return std::nullopt;
        }
        items.push_back(std::move(*item));
        if (end == std::string_view::npos) {
            return items;
        }
        start = end + 1;
    }
}

} // namespace

std::optional<std::string> percentDecoded(std::string_view text) {
    if (!hasOnlyWellFormedEscapes(text)) {
        return std::nullopt;
    }
    std::string decoded(text);
    // uriparser answers where the decoded text ends, so a decoded NUL does not cut it short.
    const char* end = uriUnescapeInPlaceExA(decoded.data(), URI_FALSE, URI_BR_DONT_TOUCH);
    decoded.resize(static_cast<std::size_t>(end - decoded.data()));
    return decoded;
}

std::optional<URLComponents> URLComponents::fromURL(const URL& url) {
    URLComponents components;
    components.scheme_ = url.scheme();
    if (url.host()) {
        components.host_ = percentDecoded(*url.host());
        if (!components.host_) {
            return std::nullopt;
        }
    }
    if (url.query()) {
        components.queryItems_ = splitQuery(*url.query());
        if (!components.queryItems_) {
            return std::nullopt;
        }
    }
    return components;
}

std::optional<std::string> URLComponents::firstValue(std::string_view name) const {
    if (!queryItems_) {
        return std::nullopt;
    }
    for (const URLQueryItem& item : *queryItems_) {
        if (item.name == name) {
            return item.value;
        }
    }
    return std::nullopt;
}

} // namespace scrivlet
