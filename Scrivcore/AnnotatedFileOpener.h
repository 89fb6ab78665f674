#pragma once

#include "Platform/base/FileHandle.h"
#include "Scrivcore/Export.h"

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace scrivlet {

// Opens the files annotations name, to read and write their attributes, without following a
// symbolic link at any step: a link put on the way after a path was checked or recorded must
// not lead a write to another file. A path in the user's home folder is looked up from the
// home folder's descriptor and cannot leave it; any other path from the root. The home
// folder's own path is the user's setting and is taken as it is, links and all.
//
// So a record whose path runs through a link (a folder the file manager reached through a
// link) gets no attribute writes: its file cannot be told from one a link was swapped in for.
// A hard link is no link here: it is the file itself under one more name, and a file reached
// by a name in the home folder is the user's, whatever other names it has.
//
// Keeps the folder of the last file open, so that the files of one folder, opened one after
// another, cost a lookup of their own names only. One per task; not shared between threads.
class SCRIVCORE_API AnnotatedFileOpener {
public:
    AnnotatedFileOpener();

    // The regular file or folder at the absolute `path`, open for its attributes; or an
    // invalid handle and `error` (ELOOP for a link on the way; see FileBeneath).
    FileHandle open(const std::filesystem::path& path, std::error_code& error);

    // The value of the attribute `name` of the file at `path`, reached as `open` reaches it.
    // Where the kernel can (getxattrat, Linux 6.13) the file is not even opened, which makes
    // reading the badges of many files cheap; a link in the file's place reads as having no
    // attributes. nullopt with no error: the file has no such attribute.
    std::optional<std::string> read(const std::filesystem::path& path, const std::string& name,
                                    std::error_code& error);

    // Whether `open` or `read` failed because nothing is at the path (ENOENT, ENOTDIR). A link on
    // the way, or in the file's place, is something: `open` refuses it with ELOOP.
    static bool isMissing(const std::error_code& error);

private:
    struct Place {
        int folderFd = -1;
        std::string name;
    };
    // The open folder that holds `path`, and the name of `path` in it.
    Place placeOf(const std::filesystem::path& path, std::error_code& error);
    int anchorFor(const std::string& path, std::string& below, std::error_code& error);

    std::vector<std::string> homes_; // the home folder as given and with its links resolved
    FileHandle home_;
    FileHandle root_;
    std::string lastFolderPath_;
    FileHandle lastFolder_;
};

} // namespace scrivlet
