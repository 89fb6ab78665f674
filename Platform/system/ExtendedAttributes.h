#pragma once

#include "Platform/base/Export.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace scrivlet {

// Extended attributes on files, through the Linux xattr calls. Every call follows symbolic
// links: an annotation belongs to the file the user sees, not to the link pointing at it.
// Inside a NoFollowScope the calls act on a final symbolic link itself instead.
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

// True for the errors that mean "the file has no room left for this value".
SCRIVLET_PLATFORM_API bool isOutOfSpace(const std::error_code& error);

// A sentence for logs: the system's message plus, for the usual causes, what it means here,
// e.g. "Operation not supported (extended attributes are not supported on this file system)".
SCRIVLET_PLATFORM_API std::string describe(const std::error_code& error);

// While one lives, this thread's calls act on a final symbolic link itself rather than on
// what it points to (a link carries no user attributes, so such a call fails harmlessly).
// Code that checked where a path leads wraps its writes in one, so that a link put in the
// file's place after the check cannot send them elsewhere. Scopes nest.
class SCRIVLET_PLATFORM_API NoFollowScope {
public:
    NoFollowScope();
    ~NoFollowScope();
    NoFollowScope(const NoFollowScope&) = delete;
    NoFollowScope& operator=(const NoFollowScope&) = delete;

    static bool isActive();
};

} // namespace ExtendedAttributes

} // namespace scrivlet
