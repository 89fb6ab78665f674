#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/PlatformError.h"

#include <filesystem>
#include <optional>
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

// The code of a folder refused by the checks below: "the runtime folder (XDG_RUNTIME_DIR) is
// not private to this user".
SCRIVLET_PLATFORM_API std::error_code folderNotPrivate();

// Whether nobody but this user can have put anything in `directory`. It must be a folder of its
// own (not a symbolic link) that belongs to the user and that group and others cannot use at
// all; so must every folder from the runtime directory down to it, when it lies there. The
// folder above the topmost of these (XDG_RUNTIME_DIR itself, say) must belong to the user and
// be closed to writes by others. What is wrong comes as a sentence naming the folder, with
// folderNotPrivate() or, for a missing folder, no_such_file_or_directory.
SCRIVLET_PLATFORM_API std::optional<PlatformError>
checkPrivateDirectory(const std::filesystem::path& directory);

// checkPrivateDirectory, creating missing folders (0700) on the way down once the folder above
// them has passed.
SCRIVLET_PLATFORM_API std::optional<PlatformError>
ensurePrivateDirectory(const std::filesystem::path& directory);

} // namespace UserDirectories

} // namespace scrivlet
