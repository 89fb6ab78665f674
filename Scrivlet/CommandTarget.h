#pragma once

#include <filesystem>
#include <string_view>

namespace scrivlet {

// Where a command URL's path leads, and whether the app may act there.
struct CommandTarget {
    // Absolute (a relative path is taken from the current directory), without "." and ".."
    // segments, and with every symbolic link resolved, the last component's too, also when
    // it leads to nothing. From the first missing component on, the path stays as written.
    std::filesystem::path resolvedPath;
    // The resolved path is the user's home folder (its links resolved too) or lies below it,
    // and a file or folder exists there. Commands act on `resolvedPath` only, never on the
    // text they were given, and reach it without following links, so that a link put on the
    // way after this check cannot lead them out of the home folder.
    bool accepted = false;
};

// A path holding a NUL byte names no file; it is refused, shown with the NUL as "%00".
CommandTarget checkCommandTarget(std::string_view path);

} // namespace scrivlet
