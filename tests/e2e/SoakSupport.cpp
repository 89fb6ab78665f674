#include "tests/e2e/SoakSupport.h"

#include <cstdlib>
#include <iostream>
#include <stdexcept>

namespace scrivlet::soak {

namespace fs = std::filesystem;

std::string pathAt(const fs::path& folder, int index) {
    return (folder / ("file " + std::to_string(index) + ".txt")).string();
}

Annotation::Status statusOf(unsigned long long version) {
    return Annotation::allStatuses.at(version % Annotation::allStatuses.size());
}

fs::path makeSandbox(const std::string& name) {
    std::string pattern = (fs::temp_directory_path() / (name + ".XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    const fs::path root = pattern;
    for (const char* folder : {"home", "data", "config", "cache", "run"}) {
        fs::create_directories(root / folder);
    }
    fs::permissions(root / "run", fs::perms::owner_all, fs::perm_options::replace);
    ::setenv("HOME", (root / "home").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (root / "run").c_str(), 1);
    ::unsetenv("SCRIVLET_CONTAINER");
    return root;
}

std::optional<double> secondsArgument(int argc, char** argv, const std::string& program) {
    char* end = nullptr;
    const double seconds = argc == 2 ? std::strtod(argv[1], &end) : 0;
    if (seconds <= 0 || end == nullptr || *end != '\0') {
        std::cerr << "usage: " << program << " SECONDS\n";
        return std::nullopt;
    }
    return seconds;
}

} // namespace scrivlet::soak
