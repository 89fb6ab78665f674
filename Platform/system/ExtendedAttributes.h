#pragma once

#include "Platform/base/Export.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace scrivlet {

// Extended attributes on files, through the Linux xattr calls. The calls that take a path
// follow symbolic links, as the plain system calls do; the calls that take a descriptor act on
// the file it was opened for, which is how code that must not be led elsewhere by a link
// reaches a file (see FileBeneath); the descriptor must be open for reading or writing, as
// one opened with O_PATH only is refused (EBADF).
//
// Errors come back as std::error_code holding the errno value. The ones to expect:
// ENOTSUP (the file system has no user attributes), ENOSPC / E2BIG / ERANGE (no room left:
// ext4 keeps all of a file's attributes in one block of about 4 KiB), EPERM (immutable or
// append-only file, or a file type that takes no user attributes), EACCES and ENOENT.
namespace ExtendedAttributes {

// The value of `name`, or nullopt when the file has no such attribute (not an error).
SCRIVLET_PLATFORM_API std::optional<std::string>
get(const std::filesystem::path& path, const std::string& name, std::error_code& error);

// Creates or replaces `name` in one step: on failure the file keeps its previous value.
SCRIVLET_PLATFORM_API std::error_code set(const std::filesystem::path& path,
                                          const std::string& name, std::string_view value);

// Removing an attribute the file does not have succeeds.
SCRIVLET_PLATFORM_API std::error_code remove(const std::filesystem::path& path,
                                             const std::string& name);

// Names of every attribute the caller may see, in the order the file system lists them.
SCRIVLET_PLATFORM_API std::vector<std::string> list(const std::filesystem::path& path,
                                                    std::error_code& error);

// The same four on the file open as `fd`.
SCRIVLET_PLATFORM_API std::optional<std::string> get(int fd, const std::string& name,
                                                     std::error_code& error);
SCRIVLET_PLATFORM_API std::error_code set(int fd, const std::string& name, std::string_view value);
SCRIVLET_PLATFORM_API std::error_code remove(int fd, const std::string& name);
SCRIVLET_PLATFORM_API std::vector<std::string> list(int fd, std::error_code& error);

// The value of `name` on the entry `entry` (one name; empty for the folder itself) of the
// folder open as `folderFd`, which may be an O_PATH descriptor: one system call, and no file
// is opened. A link in the entry's place is not followed (its own attributes are read, and
// a link has none). Fails with ENOSYS where the kernel has no getxattrat (before 6.13).
SCRIVLET_PLATFORM_API std::optional<std::string>
getAt(int folderFd, const std::string& entry, const std::string& name, std::error_code& error);

// True for the errors that mean "the file has no room left for this value".
SCRIVLET_PLATFORM_API bool isOutOfSpace(const std::error_code& error);

// A sentence for logs: the system's message plus, for the usual causes, what it means here,
// e.g. "Operation not supported (extended attributes are not supported on this file system)".
SCRIVLET_PLATFORM_API std::string describe(const std::error_code& error);

} // namespace ExtendedAttributes

} // namespace scrivlet
