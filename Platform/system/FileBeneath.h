#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/FileHandle.h"

#include <filesystem>
#include <string>
#include <system_error>

namespace scrivlet {

// Opens what lies below a folder, already open, without following a symbolic link at any step
// and without ever leaving that folder. A path that was checked once can be replaced later by
// one whose folder is a link to somewhere else; reaching the file this way, a write meant for
// the file below the folder lands there or nowhere.
//
// Errors come back as std::error_code: ELOOP when a symbolic link lies on the way (the last
// component included), ENOENT / ENOTDIR when something on the way is missing or no folder,
// and the codes of FileBeneath::Refusal for paths and files these calls never open.
namespace FileBeneath {

// How a folder path is looked up. The kernel's own lookup (openat2 with RESOLVE_BENEATH and
// RESOLVE_NO_SYMLINKS) is atomic; kernels before 5.6 lack it, and there one component after
// the other is opened with O_NOFOLLOW, which refuses the same links.
enum class Lookup {
    automatic, // the kernel's lookup where it exists, else component by component
    oneByOne,  // component by component in any case
};

enum class Refusal {
    leavesTheFolder = 1, // an absolute path, or a ".." component
    notFileOrFolder,     // a FIFO, socket or device: opening one may block or act
};

SCRIVLET_PLATFORM_API const std::error_category& refusalCategory();
SCRIVLET_PLATFORM_API std::error_code make_error_code(Refusal refusal);

// The folder at `relative` (empty: the folder itself) below `folderFd`, as an O_PATH
// descriptor to look further from.
SCRIVLET_PLATFORM_API FileHandle openFolder(int folderFd, const std::filesystem::path& relative,
                                            std::error_code& error,
                                            Lookup lookup = Lookup::automatic);

// The regular file or folder called `name` (one component; empty or "." for the folder
// itself) in the folder `folderFd`, opened read-only: its extended attributes can be read and
// written through the descriptor. FIFOs and devices are refused before they are opened.
SCRIVLET_PLATFORM_API FileHandle openEntry(int folderFd, const std::string& name,
                                           std::error_code& error);

// Both steps: the regular file or folder at `relative` below `folderFd`.
SCRIVLET_PLATFORM_API FileHandle open(int folderFd, const std::filesystem::path& relative,
                                      std::error_code& error, Lookup lookup = Lookup::automatic);

} // namespace FileBeneath

} // namespace scrivlet

template <> struct std::is_error_code_enum<scrivlet::FileBeneath::Refusal> : std::true_type {};
