#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/PlatformError.h"

#include <filesystem>
#include <optional>
#include <sys/types.h>
#include <variant>

namespace scrivlet {

// A path, or the error that stood in the way of finding or making it.
using PathOrError = std::variant<std::filesystem::path, PlatformError>;

// The file operations of the app's install and uninstall steps. Every failure comes back as
// a PlatformError whose description names the path and the reason. Tests may install a
// manager that fails on purpose (Services::setFileManager); the app uses `defaultManager()`.
class SCRIVLET_PLATFORM_API FileManager {
public:
    virtual ~FileManager() = default;

    static FileManager& defaultManager();
    static void setDefaultManager(FileManager* manager);

    // The system's Applications folder: the one folder the system's package installs the app
    // bundle into (a build setting, /usr/lib/scrivlet by default). What is in it belongs to
    // the package manager, not to the user.
    virtual std::filesystem::path systemApplicationsDirectory() const;
    // The user's Applications folder (~/Applications), whether it exists or not; nothing
    // when the user's home cannot be determined.
    virtual std::optional<std::filesystem::path> userApplicationsDirectory() const;
    // `path` without ".", ".." or a trailing separator, spelled as given otherwise: symbolic
    // links are not resolved.
    static std::filesystem::path standardized(const std::filesystem::path& path);

    // A folder only this user can use (mode 0700, owned by the user, not a symbolic link),
    // in the user's runtime directory. It is checked at every call, so a folder that someone
    // else prepared or loosened is refused, never used.
    virtual PathOrError temporaryDirectory() const;

    // Removes a file, a symbolic link (never what it points to) or a folder with its contents.
    virtual std::optional<PlatformError> removeItem(const std::filesystem::path& path) const;
    // Copies a regular file to a new path; the destination must not exist, and a symbolic
    // link there is not followed.
    virtual std::optional<PlatformError> copyItem(const std::filesystem::path& source,
                                                  const std::filesystem::path& destination) const;
    // Sets the permission bits of the item itself (a symbolic link is refused).
    virtual std::optional<PlatformError> setPosixPermissions(const std::filesystem::path& path,
                                                             mode_t mode) const;
    // Moves an item to the user's trash (the freedesktop.org home trash, or the trash at the
    // top of the item's own file system when it lives on another one).
    virtual std::optional<PlatformError> trashItem(const std::filesystem::path& path) const;
};

} // namespace scrivlet
