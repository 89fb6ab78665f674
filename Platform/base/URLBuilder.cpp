#include "Platform/base/URLBuilder.h"

#include <algorithm>
#include <cctype>
#include <uriparser/Uri.h>

namespace scrivlet {

namespace {

bool isScheme(const std::string& scheme) {
    if (scheme.empty() || std::isalpha(static_cast<unsigned char>(scheme.front())) == 0) {
        return false;
    }
    return std::all_of(scheme.begin(), scheme.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
    });
}

bool holdsNul(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

std::string escaped(const std::string& text) {
    // Every byte may become "%XX"; plus the terminating NUL.
    std::string buffer(3 * text.size() + 1, '\0');
    const char* end =
        uriEscapeExA(text.data(), text.data() + text.size(), buffer.data(), URI_FALSE, URI_FALSE);
    buffer.resize(static_cast<std::size_t>(end - buffer.data()));
    return buffer;
}

} // namespace

std::optional<URL> URLBuilder::url() const {
    if (!isScheme(scheme) || holdsNul(host)) {
        return std::nullopt;
    }
    std::string text = scheme + "://" + escaped(host);
    char separator = '?';
    for (const auto& [name, value] : queryItems) {
        if (holdsNul(name) || holdsNul(value)) {
            return std::nullopt;
        }
        text += separator;
        text += escaped(name) + "=" + escaped(value);
        separator = '&';
    }
    return URL::fromString(text);
}

} // namespace scrivlet
