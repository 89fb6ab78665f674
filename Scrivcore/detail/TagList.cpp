#include "Scrivcore/detail/TagList.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <utf8proc.h>

namespace scrivlet {

namespace scrivcore::detail {

namespace {

bool isValidUTF8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    std::size_t offset = 0;
    while (offset < text.size()) {
        if (static_cast<unsigned char>(text[offset]) < 0x80) {
            ++offset;
            continue;
        }
        utf8proc_int32_t codepoint = 0;
        const utf8proc_ssize_t length = utf8proc_iterate(
            bytes + offset, static_cast<utf8proc_ssize_t>(text.size() - offset), &codepoint);
        if (length <= 0) {
            return false;
        }
        offset += static_cast<std::size_t>(length);
    }
    return true;
}

// The lists we write ourselves have no spaces and rarely an escape: ["a","b"]. Those are
// read here without building a JSON tree, which is most of what reading every record costs.
// Anything else (escapes, spaces, invalid text) is left to the full parser.
std::optional<std::vector<std::string>> decodePlainTagList(std::string_view text) {
    std::vector<std::string> tags;
    if (text.size() < 2 || text.front() != '[' || text.back() != ']') {
        return std::nullopt;
    }
    std::string_view rest = text.substr(1, text.size() - 2);
    while (!rest.empty()) {
        if (rest.front() != '"') {
            return std::nullopt;
        }
        const std::size_t close = rest.find('"', 1);
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view tag = rest.substr(1, close - 1);
        for (const char c : tag) {
            if (c == '\\' || static_cast<unsigned char>(c) < 0x20) {
                return std::nullopt;
            }
        }
        if (!isValidUTF8(tag)) {
            return std::nullopt;
        }
        tags.emplace_back(tag);
        rest.remove_prefix(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ',' || rest.size() == 1) {
                return std::nullopt;
            }
            rest.remove_prefix(1);
        }
    }
    return tags;
}

std::vector<std::string> decodeJSONTagList(std::string_view text) {
    const nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
    if (!parsed.is_array()) {
        throw std::invalid_argument("tag list is not a JSON array");
    }
    std::vector<std::string> tags;
    tags.reserve(parsed.size());
    for (const auto& element : parsed) {
        if (!element.is_string()) {
            throw std::invalid_argument("tag list holds a value that is not a string");
        }
        tags.push_back(element.get<std::string>());
    }
    return tags;
}

} // namespace

std::string encodeTagList(const std::vector<std::string>& tags) {
    // The store replaces invalid UTF-8 before it gets here (see RecordRules); `strict` would
    // throw on what slipped through, so replace as a last line of defence.
    return nlohmann::json(tags).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::vector<std::string> decodeTagList(std::string_view text) {
    if (auto plain = decodePlainTagList(text)) {
        return std::move(*plain);
    }
    return decodeJSONTagList(text);
}

namespace {

// Accepts a JSON array whose elements are all strings, and nothing else: the grammar that
// decodeTagList reads, checked by the same parser without storing what it reads.
class TagListShape final : public nlohmann::json_sax<nlohmann::json> {
public:
    bool null() override { return false; }
    bool boolean(bool /*value*/) override { return false; }
    bool number_integer(number_integer_t /*value*/) override { return false; }
    bool number_unsigned(number_unsigned_t /*value*/) override { return false; }
    bool number_float(number_float_t /*value*/, const string_t& /*text*/) override { return false; }
    bool string(string_t& /*value*/) override { return depth_ == 1; }
    bool binary(binary_t& /*value*/) override { return false; }
    bool start_object(std::size_t /*elements*/) override { return false; }
    bool key(string_t& /*value*/) override { return false; }
    bool end_object() override { return false; }
    bool start_array(std::size_t /*elements*/) override { return ++depth_ == 1; }
    bool end_array() override {
        --depth_;
        return true;
    }
    bool parse_error(std::size_t /*position*/, const std::string& /*token*/,
                     const nlohmann::detail::exception& /*error*/) override {
        return false;
    }

private:
    int depth_ = 0;
};

} // namespace

bool isTagList(std::string_view text) {
    TagListShape shape;
    return nlohmann::json::sax_parse(text, &shape);
}

} // namespace scrivcore::detail

} // namespace scrivlet
