#pragma once

#include "Platform/base/Export.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scrivlet {

// The file manager this session uses, chosen once at launch: several may be installed, and
// each claims the desktop's file manager name on the session bus, so a bus that starts one
// on demand may start the wrong one.
enum class FileManagerProgram { dolphin, nautilus };

// The program a user named ("dolphin", "nautilus", any case); nothing for another name.
SCRIVLET_PLATFORM_API std::optional<FileManagerProgram> fileManagerNamed(std::string_view name);

// The one named (the --file-manager= option, else the user default `fileManager`) when it is
// known; else the one of the desktop the session runs (XDG_CURRENT_DESKTOP, a colon-separated
// list): GNOME's on GNOME, Dolphin on any other.
SCRIVLET_PLATFORM_API FileManagerProgram
sessionFileManagerFor(const std::optional<std::string>& named, std::string_view currentDesktop);

// The choice of this process, set by its entry point (Dolphin until then).
SCRIVLET_PLATFORM_API void setSessionFileManager(FileManagerProgram program);
SCRIVLET_PLATFORM_API FileManagerProgram sessionFileManager();

// The command line that starts the program showing `uris` (file URIs) selected, for when no
// file manager runs to be asked.
SCRIVLET_PLATFORM_API std::vector<std::string>
showItemsCommand(FileManagerProgram program, const std::vector<std::string>& uris);

// Where the extension inside GNOME's file manager tells the app that file manager's selection
// (see SelectionFile): it sees every change of selection with whole paths, in folders of any
// size, which the file manager's accessibility tree does not show. In the app's runtime folder,
// which only this user can write to.
SCRIVLET_PLATFORM_API std::filesystem::path extensionSelectionFile();

} // namespace scrivlet
