#include "Scrivcore/TagRules.h"

#include "Scrivcore/detail/RecordRules.h"

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

bool contains(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

std::string foldedForm(std::string_view tag) {
    return mapped(tag, UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD)
        .value_or(std::string(tag));
}

} // namespace

std::optional<std::string> tagProblem(std::string_view typed) {
    if (typed.find('\0') != std::string_view::npos) {
        return "holds a control character";
    }
    const std::optional<std::string> composed = mapped(typed, UTF8PROC_STABLE | UTF8PROC_COMPOSE);
    if (!composed) {
        return "is not valid UTF-8";
    }
    const std::string_view tag = trimmed(*composed);
    if (tag.empty()) {
        return "is empty";
    }
    if (hasControlCharacter(tag)) {
        return "holds a control character";
    }
    return std::nullopt;
}

std::optional<std::string> normalizedTag(std::string_view typed) {
    if (tagProblem(typed)) {
        return std::nullopt;
    }
    return std::string(trimmed(*mapped(typed, UTF8PROC_STABLE | UTF8PROC_COMPOSE)));
}

std::string folded(std::string_view tag) {
    return foldedForm(normalizedTag(tag).value_or(std::string(tag)));
}

std::vector<std::string> storedTags(const std::vector<std::string>& tags) {
    std::vector<std::string> result;
    for (const std::string& tag : tags) {
        const std::string readable = scrivcore::detail::replacingInvalidUTF8(tag);
        const std::optional<std::string> problem = tagProblem(readable);
        std::string kept = problem ? readable : *normalizedTag(readable);
        if (trimmed(kept).empty() || contains(result, kept)) {
            continue;
        }
        result.push_back(std::move(kept));
    }
    return result;
}

std::vector<std::string> addingTag(std::vector<std::string> tags, const std::string& tag) {
    if (!contains(tags, tag)) {
        tags.push_back(tag);
    }
    return tags;
}

std::vector<std::string> edited(const std::vector<std::string>& tags,
                                const std::vector<std::string>& added,
                                const std::vector<std::string>& removed) {
    const std::vector<std::string> unwanted = storedTags(removed);
    std::vector<std::string> result;
    for (std::string& tag : storedTags(tags)) {
        if (!contains(unwanted, tag)) {
            result.push_back(std::move(tag));
        }
    }
    for (std::string& tag : storedTags(added)) {
        if (!contains(unwanted, tag) && !contains(result, tag)) {
            result.push_back(std::move(tag));
        }
    }
    return result;
}

std::vector<std::string> completions(std::string_view typed, const std::vector<std::string>& inUse,
                                     const std::vector<std::string>& excluded, std::size_t limit) {
    std::vector<std::string> found;
    const std::optional<std::string> tag = normalizedTag(typed);
    if (!tag) {
        return found;
    }
    const std::string prefix = foldedForm(*tag);
    for (const std::string& candidate : inUse) {
        if (found.size() >= limit) {
            break;
        }
        if (foldedForm(candidate).starts_with(prefix) && !contains(excluded, candidate)) {
            found.push_back(candidate);
        }
    }
    return found;
}

} // namespace TagRules

} // namespace scrivlet
