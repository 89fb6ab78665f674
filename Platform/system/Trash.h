#pragma once

#include "Platform/base/PlatformError.h"

#include <filesystem>
#include <optional>

namespace scrivlet::Trash {

// Moves `path` to the trash as freedesktop.org's Trash standard (1.0) lays out: the home
// trash ($XDG_DATA_HOME/Trash) for items on its file system, else the trash at the top of the
// item's own file system ($topdir/.Trash/$uid when an administrator prepared .Trash, else
// $topdir/.Trash-$uid). The name is made unique by reserving its .trashinfo file first; the
// info file is removed again when the move fails.
std::optional<PlatformError> moveToTrash(const std::filesystem::path& path);

} // namespace scrivlet::Trash
