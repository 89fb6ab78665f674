#pragma once

#include "Platform/base/Export.h"

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace scrivlet {

// An application bundle laid out as <Name>.app/Contents/{MacOS,Resources,PlugIns,Info.json}.
// Info.json carries the identifier, the executable's name and the URL schemes.
class SCRIVLET_PLATFORM_API Bundle {
public:
    // The bundle of the running program, as the composition root installed it.
    static const Bundle& main();
    static void setMain(const Bundle* bundle);

    // Reads the bundle at `bundlePath`; nothing (and `error` set) when it is not one.
    static std::optional<Bundle> atPath(const std::filesystem::path& bundlePath,
                                        std::error_code& error);
    // The bundle around the running executable, found from /proc/self/exe; nothing when the
    // program does not run from a bundle (tests, tools).
    static std::optional<Bundle> containingExecutable();
    // A bundle described in memory, for programs that do not run from one.
    Bundle(std::string identifier, std::filesystem::path bundlePath, std::string executableName,
           std::vector<std::string> urlSchemes);

    const std::string& bundleIdentifier() const { return identifier_; }
    const std::filesystem::path& bundlePath() const { return bundlePath_; }
    std::string bundleURL() const;
    std::filesystem::path executablePath() const;
    std::filesystem::path resourcePath() const;
    std::filesystem::path builtInPlugInsPath() const;
    // The resource's path when it exists.
    std::optional<std::filesystem::path> pathForResource(const std::string& name,
                                                         const std::string& extension) const;
    const std::vector<std::string>& urlSchemes() const { return urlSchemes_; }

private:
    std::string identifier_;
    std::filesystem::path bundlePath_;
    std::string executableName_;
    std::vector<std::string> urlSchemes_;
};

} // namespace scrivlet
