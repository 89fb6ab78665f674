#include "Scrivlet/CommandURL.h"

#include "Platform/base/URLComponents.h"

namespace scrivlet {

std::optional<CommandURL> readCommandURL(const URL& url) {
    if (url.scheme() != commandURLScheme) {
        return std::nullopt;
    }
    const std::optional<URLComponents> components = URLComponents::fromURL(url);
    if (!components) {
        return std::nullopt;
    }
    std::optional<std::string> path = components->firstValue("path");
    if (!path || path->empty()) {
        return std::nullopt;
    }
    return CommandURL{components->host().value_or(""), std::move(*path)};
}

} // namespace scrivlet
