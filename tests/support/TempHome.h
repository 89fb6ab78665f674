#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace scrivlet {

// A throw-away home folder for one test: HOME and the XDG folders point into it for the
// lifetime of the object, and everything is removed (and the environment restored) after.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::filesystem::path& path() const { return root_; }
    std::filesystem::path storePath() const;

    // Writes `contents` to `relative` below the home, creating folders; returns the full path.
    std::filesystem::path makeFile(const std::string& relative, const std::string& contents = "");

private:
    void setVariable(const char* name, const std::string& value);
    void unsetVariable(const char* name);

    std::filesystem::path root_;
    std::map<std::string, std::optional<std::string>> savedEnvironment_;
};

std::string readWholeFile(const std::filesystem::path& path);

} // namespace scrivlet
