#include "ScrivletCommand/CommandLine.h"

#include <charconv>
#include <filesystem>
#include <sys/stat.h>

namespace scrivlet::command {

namespace fs = std::filesystem;

Arguments::Arguments(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {
    // "--name=value" is the same as "--name value".
    std::vector<std::string> split;
    bool ended = false;
    for (const std::string& argument : arguments_) {
        const std::size_t equals = argument.find('=');
        ended = ended || argument == "--";
        if (!ended && argument.starts_with("--") && equals != std::string::npos) {
            split.push_back(argument.substr(0, equals));
            split.push_back(argument.substr(equals + 1));
        } else {
            split.push_back(argument);
        }
    }
    arguments_ = std::move(split);
}

bool Arguments::atOption() const {
    return !done() && !optionsEnded_ && arguments_[next_].size() > 1 && arguments_[next_][0] == '-';
}

std::string Arguments::take() {
    std::string argument = arguments_[next_++];
    if (argument == "--" && !optionsEnded_) {
        optionsEnded_ = true;
        return done() ? std::string() : take();
    }
    return argument;
}

std::string Arguments::takeValue(std::string_view option) {
    if (done()) {
        throw UsageError(std::string(option) + " needs a value");
    }
    return arguments_[next_++];
}

std::string recordKey(const std::string& argument) {
    fs::path path(argument);
    if (!path.is_absolute()) {
        std::error_code error;
        path = fs::current_path(error) / path;
    }
    std::string key = path.lexically_normal().string();
    while (key.size() > 1 && key.back() == '/') {
        key.pop_back();
    }
    std::error_code error;
    const fs::path resolved = fs::canonical(key, error);
    return error ? key : resolved.string();
}

bool fileExists(const std::string& key) {
    struct stat info {};
    return ::stat(key.c_str(), &info) == 0;
}

std::optional<int> parseRating(std::string_view text) {
    int rating = -1;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, rating);
    if (error != std::errc() || stop != end || rating < 0 || rating > 5) {
        return std::nullopt;
    }
    return rating;
}

} // namespace scrivlet::command
