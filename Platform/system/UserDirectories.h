#pragma once

#include "Platform/base/Export.h"

#include <filesystem>
#include <system_error>

namespace scrivlet {

// Per-user folders, following the XDG base directory conventions.
namespace UserDirectories {

// Environment variable that moves the shared container (store, badge queue) elsewhere,
// so tests and scenario runs can work in a temporary home.
inline constexpr const char* containerOverrideVariable = "SCRIVLET_CONTAINER";

// Name of the folder shared by the app and the extension, as the app group is named.
inline constexpr const char* groupContainerName = "com.scrivlet.shared";

SCRIVLET_PLATFORM_API std::filesystem::path home();
SCRIVLET_PLATFORM_API std::filesystem::path dataHome();
SCRIVLET_PLATFORM_API std::filesystem::path configHome();
SCRIVLET_PLATFORM_API std::filesystem::path stateHome();

// Folder for sockets, process registries and notices: $XDG_RUNTIME_DIR/scrivlet when the
// session has one, else a private folder under the state home. Never a fixed name in /tmp.
SCRIVLET_PLATFORM_API std::filesystem::path runtimeDirectory();

// The folder both deliverables share: $SCRIVLET_CONTAINER, else <data home>/com.scrivlet.shared.
SCRIVLET_PLATFORM_API std::filesystem::path groupContainer();

// Creates `directory` and missing parents; folders it creates are private to the user (0700).
SCRIVLET_PLATFORM_API std::error_code ensureDirectory(const std::filesystem::path& directory);

} // namespace UserDirectories

} // namespace scrivlet
