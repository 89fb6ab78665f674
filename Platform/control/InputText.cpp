#include "Platform/control/InputText.h"

#include <charconv>
#include <system_error>
#include <utility>

namespace scrivlet {

namespace {

// from_chars reads a prefix; only a number that uses up the whole text counts.
template <typename Number> std::optional<Number> readWhole(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    Number value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

// The byte count and smallest code point of a UTF-8 sequence led by `lead`; 0 when `lead`
// cannot start one.
std::pair<std::size_t, char32_t> sequenceShape(unsigned char lead) {
    if ((lead & 0xe0) == 0xc0) {
        return {2, 0x80};
    }
    if ((lead & 0xf0) == 0xe0) {
        return {3, 0x800};
    }
    if ((lead & 0xf8) == 0xf0) {
        return {4, 0x10000};
    }
    return {0, 0};
}

// Reads the multi-byte sequence at text[at]; answers its length, or 0 when it is malformed.
std::size_t multiByteLength(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const auto [length, smallest] = sequenceShape(lead);
    if (length == 0 || at + length > text.size()) {
        return 0;
    }
    char32_t code = lead & (0x7f >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xc0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (next & 0x3f);
    }
    const bool surrogate = code >= 0xd800 && code <= 0xdfff;
    return code < smallest || code > 0x10ffff || surrogate ? 0 : length;
}

} // namespace

std::optional<long long> parseWholeNumber(std::string_view text, long long minimum,
                                          long long maximum) {
    const auto number = readWhole<long long>(text);
    return number && *number >= minimum && *number <= maximum ? number : std::nullopt;
}

std::optional<double> parseDecimalNumber(std::string_view text, double minimum, double maximum) {
    // from_chars reads "inf" and "nan" too: the range check refuses both, since NaN compares
    // false with everything.
    const auto number = readWhole<double>(text);
    return number && *number >= minimum && *number <= maximum ? number : std::nullopt;
}

bool isTypedText(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte >= 0x80) {
            const std::size_t length = multiByteLength(text, at);
            if (length == 0) {
                return false;
            }
            at += length;
        } else if (byte < 0x20 || byte == 0x7f) {
            return false;
        } else {
            ++at;
        }
    }
    return true;
}

} // namespace scrivlet
