#pragma once

#include "Platform/base/Export.h"

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace scrivlet {

// Which application opens the URLs of a scheme when none that owns it runs. An application
// says so in a desktop entry of the user's data folder that declares the MIME type
// x-scheme-handler/<scheme>; xdg-open and the desktops read the same entries.
namespace URLSchemeRegistration {

struct Application {
    std::string bundleIdentifier;
    std::string name;
    std::filesystem::path executable;
    std::vector<std::string> schemes;
};

// <data home>/applications/<bundle identifier>.desktop
SCRIVLET_PLATFORM_API std::filesystem::path desktopEntryPath(const std::string& bundleIdentifier);

// The entry's text: it starts `executable` with the URLs as its arguments.
SCRIVLET_PLATFORM_API std::string desktopEntryText(const Application& application);

// Writes the application's entry unless it is there already as it should be; an application
// that moved gets its entry rewritten. The file is replaced in one step.
SCRIVLET_PLATFORM_API std::error_code registerApplication(const Application& application);

// The command that opens `urls` of `scheme`: the Exec line, with the URLs in place, of the
// first entry declaring the scheme in the data home, then in the data folders
// ($XDG_DATA_DIRS), each folder's entries taken by name. Nothing when none declares it.
SCRIVLET_PLATFORM_API std::optional<std::vector<std::string>>
commandForOpening(const std::string& scheme, const std::vector<std::string>& urls);

} // namespace URLSchemeRegistration

} // namespace scrivlet
