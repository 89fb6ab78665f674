#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/FileHandle.h"
#include "Platform/system/FileIdentity.h"

#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace scrivlet {

// Looks up many files one after another, keeping the folder of the last one open. When
// consecutive paths share a folder, as in a list ordered by path, each lookup walks only the
// last component instead of the whole path: most of the cost of a stat of a deep path.
// Answers are those of the plain calls on the whole path, symbolic links followed.
class SCRIVLET_PLATFORM_API PathLookup {
public:
    PathLookup() = default;
    PathLookup(const PathLookup&) = delete;
    PathLookup& operator=(const PathLookup&) = delete;

    // Whether something exists at `path` (an absolute path), as stat would say.
    bool exists(const std::string& path);
    std::optional<FileIdentity> identity(const std::string& path, std::error_code& error);

private:
    // The open folder of `path` and the name within it; a folder of -1 means "use the path".
    std::pair<int, const char*> split(const std::string& path);

    std::string folder_;
    FileHandle folderFd_;
};

} // namespace scrivlet
