#pragma once

#include "Platform/base/Export.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace scrivlet {

// The app's user defaults: string values by key, kept in a small JSON file under the config
// home (<config home>/scrivlet/<bundle identifier>.json). Reads notice changes that other
// programs make to the file, so a value set while the app runs applies at its next read.
class SCRIVLET_PLATFORM_API UserDefaults {
public:
    // The defaults of the main bundle.
    static UserDefaults& standardUserDefaults();

    explicit UserDefaults(std::filesystem::path file);

    // Nothing when the key is missing, holds no string, or the file cannot be read.
    std::optional<std::string> stringForKey(const std::string& key);
    // Writes the file atomically; false (and the file as it was) when that fails.
    bool setString(const std::string& key, const std::string& value);
    bool removeObjectForKey(const std::string& key);

    const std::filesystem::path& file() const { return file_; }

private:
    void reloadIfChanged();
    bool write(const std::map<std::string, std::string>& values);

    std::filesystem::path file_;
    std::map<std::string, std::string> values_;
    std::optional<std::string> loadedText_; // what values_ were parsed from
};

} // namespace scrivlet
