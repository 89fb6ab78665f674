#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace scrivlet {

// "scrivlet://COMMAND?path=" with the path percent-encoded. Letters, digits, "-_~" and,
// unless `encodeEverything`, "/" and "." are sent as they are.
std::string commandURL(std::string_view command, const std::string& path,
                       bool encodeEverything = false);

// A folder named after `besideThis` plus `suffix`, next to it; removed with the object.
class SiblingFolder {
public:
    SiblingFolder(const std::filesystem::path& besideThis, const std::string& suffix);
    ~SiblingFolder();
    SiblingFolder(const SiblingFolder&) = delete;
    SiblingFolder& operator=(const SiblingFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path makeFile(const std::string& relative, const std::string& contents = "");

private:
    std::filesystem::path path_;
};

// The process's current directory, changed for the object's lifetime.
class ScopedCurrentDirectory {
public:
    explicit ScopedCurrentDirectory(const std::filesystem::path& directory);
    ~ScopedCurrentDirectory();
    ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
    ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

private:
    std::filesystem::path previous_;
};

// One environment variable, set for the object's lifetime.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

} // namespace scrivlet
