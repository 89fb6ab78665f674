#include "Scrivcore/TagText.h"

#include <algorithm>
#include <cstdlib>
#include <utf8proc.h>

namespace scrivlet {

namespace TagText {

namespace {

// utf8proc works on NUL-terminated text and refuses invalid UTF-8; such text stays as it is.
std::string mapped(std::string_view text, int options) {
    if (text.find('\0') != std::string_view::npos) {
        return std::string(text);
    }
    utf8proc_uint8_t* result = nullptr;
    std::string input(text);
    const utf8proc_ssize_t length =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(input.c_str()), 0, &result,
                     static_cast<utf8proc_option_t>(options | UTF8PROC_NULLTERM));
    if (length < 0 || result == nullptr) {
        return input;
    }
    std::string out(reinterpret_cast<const char*>(result), static_cast<std::size_t>(length));
    std::free(result);
    return out;
}

bool isSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string trimmed(std::string text) {
    const auto first = std::find_if_not(text.begin(), text.end(), isSpace);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isSpace).base();
    return first < last ? std::string(first, last) : std::string();
}

bool contains(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

} // namespace

std::string normalized(std::string_view tag) {
    return trimmed(mapped(tag, UTF8PROC_STABLE | UTF8PROC_COMPOSE));
}

std::string folded(std::string_view tag) {
    return mapped(normalized(tag), UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD);
}

std::vector<std::string> edited(const std::vector<std::string>& tags,
                                const std::vector<std::string>& added,
                                const std::vector<std::string>& removed) {
    std::vector<std::string> unwanted;
    unwanted.reserve(removed.size());
    for (const std::string& tag : removed) {
        unwanted.push_back(normalized(tag));
    }
    std::vector<std::string> result;
    auto keep = [&](const std::string& tag) {
        std::string text = normalized(tag);
        if (!text.empty() && !contains(result, text) && !contains(unwanted, text)) {
            result.push_back(std::move(text));
        }
    };
    std::for_each(tags.begin(), tags.end(), keep);
    std::for_each(added.begin(), added.end(), keep);
    return result;
}

} // namespace TagText

} // namespace scrivlet
