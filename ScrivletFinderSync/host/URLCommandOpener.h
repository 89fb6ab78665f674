#pragma once

#include "Platform/base/URL.h"

#include <string>

namespace scrivlet {

// Opens a URL by starting `command URL` (the app's URL command), detached: the host does not
// wait for it, and the child is reaped by the system. False when it could not be started.
bool openURLWithCommand(const std::string& command, const URL& url);

} // namespace scrivlet
