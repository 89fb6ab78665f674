#include "tests/support/TempHome.h"

#include "Platform/system/UserDirectories.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace scrivlet {

namespace fs = std::filesystem;

TempHome::TempHome() {
    std::string pattern = (fs::temp_directory_path() / "scrivlet-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary home");
    }
    root_ = fs::path(pattern);
    fs::create_directories(root_ / "run");
    ::chmod((root_ / "run").c_str(), 0700);
    setVariable("HOME", root_.string());
    setVariable("XDG_DATA_HOME", (root_ / ".local/share").string());
    setVariable("XDG_CONFIG_HOME", (root_ / ".config").string());
    setVariable("XDG_STATE_HOME", (root_ / ".local/state").string());
    setVariable("XDG_CACHE_HOME", (root_ / ".cache").string());
    setVariable("XDG_RUNTIME_DIR", (root_ / "run").string());
    unsetVariable(UserDirectories::containerOverrideVariable);
}

TempHome::~TempHome() {
    for (const auto& [name, value] : savedEnvironment_) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
    std::error_code ignored;
    // Tests may leave read-only folders behind; make everything writable before removing.
    for (auto it = fs::recursive_directory_iterator(root_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        ::chmod(it->path().c_str(), 0700);
    }
    fs::remove_all(root_, ignored);
}

fs::path TempHome::storePath() const {
    return root_ / ".local/share" / UserDirectories::groupContainerName / "annotations.sqlite";
}

fs::path TempHome::makeFile(const std::string& relative, const std::string& contents) {
    const fs::path full = root_ / relative;
    fs::create_directories(full.parent_path());
    std::ofstream(full, std::ios::binary) << contents;
    return full;
}

void TempHome::setVariable(const char* name, const std::string& value) {
    if (!savedEnvironment_.contains(name)) {
        const char* old = std::getenv(name);
        savedEnvironment_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    ::setenv(name, value.c_str(), 1);
}

void TempHome::unsetVariable(const char* name) {
    if (!savedEnvironment_.contains(name)) {
        const char* old = std::getenv(name);
        savedEnvironment_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    ::unsetenv(name);
}

std::string readWholeFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

} // namespace scrivlet
