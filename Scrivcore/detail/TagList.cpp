#include "Scrivcore/detail/TagList.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

namespace scrivlet {

namespace scrivcore::detail {

std::string encodeTagList(const std::vector<std::string>& tags) {
    // Invalid UTF-8 in a tag is replaced rather than refused: a save must not fail on it.
    return nlohmann::json(tags).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::vector<std::string> decodeTagList(std::string_view text) {
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
