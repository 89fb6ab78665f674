#include "Platform/system/Bundle.h"

#include "Platform/base/Installed.h"
#include "Platform/base/URL.h"

#include <fstream>
#include <nlohmann/json.hpp>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {
const Bundle* mainBundle = nullptr;
}

const Bundle& Bundle::main() {
    return installedOrStop(mainBundle);
}

void Bundle::setMain(const Bundle* bundle) {
    mainBundle = bundle;
}

Bundle::Bundle(std::string identifier, fs::path bundlePath, std::string executableName,
               std::vector<std::string> urlSchemes)
    : identifier_(std::move(identifier)), bundlePath_(std::move(bundlePath)),
      executableName_(std::move(executableName)), urlSchemes_(std::move(urlSchemes)) {}

std::optional<Bundle> Bundle::atPath(const fs::path& bundlePath, std::error_code& error) {
    std::ifstream file(bundlePath / "Contents" / "Info.json");
    if (!file) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
        return std::nullopt;
    }
    const nlohmann::json info = nlohmann::json::parse(file, nullptr, false);
    if (!info.is_object() || !info.value("CFBundleIdentifier", nlohmann::json()).is_string() ||
        !info.value("CFBundleExecutable", nlohmann::json()).is_string()) {
        error = std::make_error_code(std::errc::invalid_argument);
        return std::nullopt;
    }
    std::vector<std::string> schemes;
    for (const auto& type : info.value("CFBundleURLTypes", nlohmann::json::array())) {
        for (const auto& scheme : type.value("CFBundleURLSchemes", nlohmann::json::array())) {
            if (scheme.is_string()) {
                schemes.push_back(scheme.get<std::string>());
            }
        }
    }
    error.clear();
    return Bundle(info["CFBundleIdentifier"].get<std::string>(), bundlePath,
                  info["CFBundleExecutable"].get<std::string>(), std::move(schemes));
}

std::optional<Bundle> Bundle::containingExecutable() {
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (error) {
        return std::nullopt;
    }
    const fs::path macOSFolder = executable.parent_path();
    const fs::path contents = macOSFolder.parent_path();
    if (macOSFolder.filename() != "MacOS" || contents.filename() != "Contents") {
        return std::nullopt;
    }
    return atPath(contents.parent_path(), error);
}

std::string Bundle::bundleURL() const {
    return URL::fileURL(bundlePath_).absoluteString() + "/";
}

fs::path Bundle::executablePath() const {
    return bundlePath_ / "Contents" / "MacOS" / executableName_;
}

fs::path Bundle::resourcePath() const {
    return bundlePath_ / "Contents" / "Resources";
}

fs::path Bundle::builtInPlugInsPath() const {
    return bundlePath_ / "Contents" / "PlugIns";
}

std::optional<fs::path> Bundle::pathForResource(const std::string& name,
                                                const std::string& extension) const {
    const fs::path candidate = resourcePath() / (extension.empty() ? name : name + "." + extension);
    std::error_code error;
    return fs::exists(candidate, error) ? std::optional<fs::path>(candidate) : std::nullopt;
}

} // namespace scrivlet
