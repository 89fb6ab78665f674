#pragma once

#include "Platform/base/Export.h"
#include "Platform/desktop/DesktopBackend.h"

#include <string>

namespace scrivlet {

// The scripts the app sends the file manager, as the desktops that answer them know them.
// The selection script: the POSIX path of the one selected item, else an empty string.
SCRIVLET_PLATFORM_API const std::string& fileManagerSelectionScript();

// A script's failure as the scripting system reports it: its error number and message.
SCRIVLET_PLATFORM_API ScriptReply scriptErrorReply(const char* number, const std::string& message);

} // namespace scrivlet
