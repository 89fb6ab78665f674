#pragma once

#include "Platform/base/Export.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <sys/types.h>
#include <system_error>

namespace scrivlet {

// How the replacement's permission bits are settled.
enum class FilePermissions {
    lessUmask, // `mode` as open(2) takes it: the user's umask removes bits
    exactly,   // `mode` as given, whatever the umask
};

// Where a replacement stopped: `path` is the folder when no temporary file could be made in
// it, otherwise the file being replaced.
struct FileReplaceFailure {
    std::error_code code;
    std::filesystem::path path;
};

// Replaces `path` with `contents` so that a reader, or a crash, sees either the old file or
// the whole new one: a temporary file beside it is written and flushed, renamed over it, and
// the folder is flushed. The temporary is hidden and never ends in the target's extension, so
// a program scanning the folder meanwhile passes it over; on failure it is removed and the old
// file is untouched. The folder must exist.
SCRIVLET_PLATFORM_API std::optional<FileReplaceFailure>
replaceFileAtomically(const std::filesystem::path& path, std::string_view contents, mode_t mode,
                      FilePermissions permissions = FilePermissions::lessUmask);

} // namespace scrivlet
