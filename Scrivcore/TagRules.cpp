#include "Scrivcore/TagRules.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utf8proc.h>

namespace scrivlet {

namespace TagRules {

namespace {

struct FreeDeleter {
    void operator()(utf8proc_uint8_t* text) const { std::free(text); }
};

// Runs utf8proc over `text`; nothing when the text is not valid UTF-8.
std::optional<std::string> mapped(std::string_view text, int options) {
    utf8proc_uint8_t* result = nullptr;
    const utf8proc_ssize_t length =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                     static_cast<utf8proc_ssize_t>(text.size()), &result,
                     static_cast<utf8proc_option_t>(options));
    const std::unique_ptr<utf8proc_uint8_t, FreeDeleter> owned(result);
    if (length < 0) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(result), static_cast<std::size_t>(length));
}

struct Decoded {
    utf8proc_int32_t codepoint = 0;
    std::size_t length = 0;
};

Decoded decodeAt(std::string_view text, std::size_t offset) {
    Decoded decoded;
    const utf8proc_ssize_t length =
        utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + offset),
                         static_cast<utf8proc_ssize_t>(text.size() - offset), &decoded.codepoint);
    decoded.length = length > 0 ? static_cast<std::size_t>(length) : 1;
    return decoded;
}

bool isSpace(utf8proc_int32_t codepoint) {
    const utf8proc_category_t category = utf8proc_category(codepoint);
    return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
           category == UTF8PROC_CATEGORY_ZP || codepoint == '\t' || codepoint == '\n' ||
           codepoint == '\r' || codepoint == '\v' || codepoint == '\f';
}

// `text` (valid UTF-8) without white space at either end.
std::string_view trimmed(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
        const Decoded next = decodeAt(text, start);
        if (!isSpace(next.codepoint)) {
            break;
        }
        start += next.length;
    }
    std::size_t end = start;
    for (std::size_t offset = start; offset < text.size();) {
        const Decoded next = decodeAt(text, offset);
        offset += next.length;
        if (!isSpace(next.codepoint)) {
            end = offset;
        }
    }
    return text.substr(start, end - start);
}

bool hasControlCharacter(std::string_view text) {
    for (std::size_t offset = 0; offset < text.size();) {
        const Decoded next = decodeAt(text, offset);
        if (utf8proc_category(next.codepoint) == UTF8PROC_CATEGORY_CC) {
            return true;
        }
        offset += next.length;
    }
    return false;
}

std::string folded(std::string_view text) {
    return mapped(text, UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD)
        .value_or(std::string(text));
}

} // namespace

std::optional<std::string> normalizedTag(std::string_view typed) {
    if (typed.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    std::optional<std::string> composed = mapped(typed, UTF8PROC_STABLE | UTF8PROC_COMPOSE);
    if (!composed) {
        return std::nullopt;
    }
    const std::string_view tag = trimmed(*composed);
    if (tag.empty() || hasControlCharacter(tag)) {
        return std::nullopt;
    }
    return std::string(tag);
}

std::vector<std::string> addingTag(std::vector<std::string> tags, const std::string& tag) {
    if (std::find(tags.begin(), tags.end(), tag) == tags.end()) {
        tags.push_back(tag);
    }
    return tags;
}

std::vector<std::string> completions(std::string_view typed, const std::vector<std::string>& inUse,
                                     const std::vector<std::string>& excluded, std::size_t limit) {
    std::vector<std::string> found;
    const std::optional<std::string> tag = normalizedTag(typed);
    if (!tag) {
        return found;
    }
    const std::string prefix = folded(*tag);
    for (const std::string& candidate : inUse) {
        if (found.size() >= limit) {
            break;
        }
        if (folded(candidate).starts_with(prefix) &&
            std::find(excluded.begin(), excluded.end(), candidate) == excluded.end()) {
            found.push_back(candidate);
        }
    }
    return found;
}

} // namespace TagRules

} // namespace scrivlet
