#include "tests/support/URLCommandSupport.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace scrivlet {

namespace fs = std::filesystem;

std::string commandURL(std::string_view command, const std::string& path, bool encodeEverything) {
    std::string url = "scrivlet://" + std::string(command) + "?path=";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = std::isalnum(byte) || c == '-' || c == '_' || c == '~' ||
                           (!encodeEverything && (c == '/' || c == '.'));
        if (plain) {
            url += c;
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", byte);
            url += escape;
        }
    }
    return url;
}

SiblingFolder::SiblingFolder(const fs::path& besideThis, const std::string& suffix)
    : path_(besideThis.string() + suffix) {
    fs::create_directories(path_);
}

SiblingFolder::~SiblingFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

fs::path SiblingFolder::makeFile(const std::string& relative, const std::string& contents) {
    const fs::path full = path_ / relative;
    fs::create_directories(full.parent_path());
    std::ofstream(full, std::ios::binary) << contents;
    return full;
}

ScopedCurrentDirectory::ScopedCurrentDirectory(const fs::path& directory)
    : previous_(fs::current_path()) {
    fs::current_path(directory);
}

ScopedCurrentDirectory::~ScopedCurrentDirectory() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
}

ScopedEnvironment::ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        previous_ = old;
    }
    ::setenv(name, value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment() {
    if (previous_) {
        ::setenv(name_.c_str(), previous_->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

} // namespace scrivlet
