#include "Platform/ui/Localization.h"

#include <cctype>
#include <utility>

namespace scrivlet {

namespace ui {

namespace {

std::optional<Localization::Table>& installedTable() {
    static std::optional<Localization::Table> table;
    return table;
}

// Reads "N$@" after a '%' at `pos`; answers the zero-based argument and the length read.
std::optional<std::pair<std::size_t, std::size_t>> positionalPlaceholder(std::string_view text,
                                                                         std::size_t pos) {
    std::size_t end = pos;
    std::size_t number = 0;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) {
        number = number * 10 + static_cast<std::size_t>(text[end] - '0');
        ++end;
    }
    if (end == pos || number == 0 || text.substr(end, 2) != "$@") {
        return std::nullopt;
    }
    return std::pair{number - 1, end + 2 - pos};
}

} // namespace

std::string Localization::string(std::string_view key) {
    if (const auto& table = installedTable()) {
        if (auto found = table->find(key); found != table->end()) {
            return found->second;
        }
    }
    return std::string(key);
}

std::string Localization::format(std::string_view key, const std::vector<std::string>& arguments) {
    const std::string pattern = string(key);
    std::string result;
    result.reserve(pattern.size());
    std::size_t nextArgument = 0;
    auto append = [&](std::size_t index) {
        if (index < arguments.size()) {
            result += arguments[index];
        }
    };
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            if (pattern[i + 1] == '%') {
                result += '%';
                ++i;
                continue;
            }
            if (pattern[i + 1] == '@') {
                append(nextArgument++);
                ++i;
                continue;
            }
            if (auto positional = positionalPlaceholder(pattern, i + 1)) {
                append(positional->first);
                i += positional->second;
                continue;
            }
        }
        // Ordinary text, and a '%' that starts no placeholder, stand as they are.
        result += pattern[i];
    }
    return result;
}

std::optional<Localization::Table> Localization::installTable(std::optional<Table> table) {
    return std::exchange(installedTable(), std::move(table));
}

} // namespace ui

} // namespace scrivlet
