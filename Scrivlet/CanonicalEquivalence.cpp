#include "Scrivlet/CanonicalEquivalence.h"

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utf8proc.h>

namespace scrivlet {

namespace {

// The canonical decomposition (NFD) of `text`, or nothing when it is not valid UTF-8.
std::optional<std::string> decomposed(std::string_view text) {
    utf8proc_uint8_t* mapped = nullptr;
    const utf8proc_ssize_t length =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                     static_cast<utf8proc_ssize_t>(text.size()), &mapped,
                     static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_DECOMPOSE));
    const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(mapped, &std::free);
    if (length < 0) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(length));
}

} // namespace

bool isCanonicallyEquivalent(std::string_view a, std::string_view b) {
    if (a == b) {
        return true;
    }
    const std::optional<std::string> first = decomposed(a);
    const std::optional<std::string> second = decomposed(b);
    return first && second && *first == *second;
}

} // namespace scrivlet
