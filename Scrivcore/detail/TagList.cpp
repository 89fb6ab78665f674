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

} // namespace scrivcore::detail

} // namespace scrivlet
