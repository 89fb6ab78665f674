#include "Scrivcore/detail/RecordRules.h"

#include "Scrivcore/StoreError.h"

#include <utf8proc.h>

namespace scrivlet {

namespace scrivcore::detail {

std::optional<std::string> pathProblem(std::string_view path) {
    if (path.empty() || path.front() != '/') {
        return "is not absolute";
    }
    if (path.find('\0') != std::string_view::npos) {
        return "contains a NUL character";
    }
    return std::nullopt;
}

void validateRecord(const Annotation& record) {
    if (const auto problem = pathProblem(record.path)) {
        throw StoreError(StoreError::Kind::invalidRecord,
                         "The annotation cannot be saved: its path " + *problem + ".");
    }
    if (record.rating < 0 || record.rating > 5) {
        throw StoreError(StoreError::Kind::invalidRecord,
                         "The annotation cannot be saved: the rating " +
                             std::to_string(record.rating) + " is outside 0 to 5.");
    }
}

std::string replacingInvalidUTF8(std::string_view text) {
    static constexpr std::string_view replacement = "\xEF\xBF\xBD";
    std::string result;
    result.reserve(text.size());
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    std::size_t offset = 0;
    while (offset < text.size()) {
        utf8proc_int32_t codepoint = 0;
        const utf8proc_ssize_t length = utf8proc_iterate(
            bytes + offset, static_cast<utf8proc_ssize_t>(text.size() - offset), &codepoint);
        if (length <= 0) {
            result += replacement;
            ++offset;
            continue;
        }
        result.append(text.substr(offset, static_cast<std::size_t>(length)));
        offset += static_cast<std::size_t>(length);
    }
    return result;
}

} // namespace scrivcore::detail

} // namespace scrivlet
