#include "Platform/system/UserDefaults.h"

#include "Platform/system/AtomicFile.h"
#include "Platform/system/Bundle.h"
#include "Platform/system/UserDirectories.h"

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

namespace scrivlet {

namespace fs = std::filesystem;

UserDefaults& UserDefaults::standardUserDefaults() {
    // One object per bundle identifier and config home, so tests in fresh homes start clean.
    static std::map<fs::path, std::unique_ptr<UserDefaults>> byFile;
    const fs::path file =
        UserDirectories::configHome() / "scrivlet" / (Bundle::main().bundleIdentifier() + ".json");
    auto& defaults = byFile[file];
    if (!defaults) {
        defaults = std::make_unique<UserDefaults>(file);
    }
    return *defaults;
}

UserDefaults::UserDefaults(fs::path file) : file_(std::move(file)) {}

void UserDefaults::reloadIfChanged() {
    // The text itself tells a change: the file's clock ticks in milliseconds, so another
    // program's change of the same length can leave its size and time as they were. The file
    // is a few lines; only a changed one is parsed again.
    std::ifstream in(file_, std::ios::binary);
    if (!in) {
        values_.clear();
        loadedText_.reset();
        return;
    }
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (loadedText_ == text) {
        return;
    }
    values_.clear();
    const nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
    if (parsed.is_object()) {
        for (const auto& [key, value] : parsed.items()) {
            if (value.is_string()) {
                values_[key] = value.get<std::string>();
            }
        }
    }
    loadedText_ = std::move(text);
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) {
    reloadIfChanged();
    const auto found = values_.find(key);
    return found == values_.end() ? std::nullopt : std::optional(found->second);
}

bool UserDefaults::setString(const std::string& key, const std::string& value) {
    reloadIfChanged();
    auto values = values_;
    values[key] = value;
    return write(values);
}

bool UserDefaults::removeObjectForKey(const std::string& key) {
    reloadIfChanged();
    auto values = values_;
    values.erase(key);
    return write(values);
}

bool UserDefaults::write(const std::map<std::string, std::string>& values) {
    if (UserDirectories::ensureDirectory(file_.parent_path())) {
        return false;
    }
    if (replaceFileAtomically(file_, nlohmann::json(values).dump(2) + "\n", 0666)) {
        return false;
    }
    loadedText_.reset(); // read back what is now on disk
    return true;
}

} // namespace scrivlet
