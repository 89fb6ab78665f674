#pragma once

#include "Platform/base/URL.h"
#include "Platform/desktop/DesktopBackend.h"
#include "Platform/desktop/FileManagerSelection.h"

#include <functional>
#include <memory>
#include <string>

namespace scrivlet {

class RunLoop;

namespace x11 {

// The desktop of the X11 session in DISPLAY, driving `loop` through the toolkit's event loop
// from now on. URLs the app opens go to `urlOpener`. Nothing, with `error` saying why in one
// line, when there is no X11 display or this build has no X11 desktop.
std::unique_ptr<DesktopBackend> openX11Desktop(RunLoop& loop,
                                               std::unique_ptr<FileManagerSelection> selection,
                                               std::function<bool(const URL&)> urlOpener,
                                               std::string& error);

// The file manager's selection as its accessibility tree shows it; nothing when this build has
// no X11 desktop.
std::unique_ptr<FileManagerSelection> selectionFromAccessibility(RunLoop& loop);

// The selection told through the file at `path` (see SelectionFile), for scripted sessions;
// nothing when this build has no X11 desktop or the file's folder cannot be watched.
std::unique_ptr<FileManagerSelection> selectionFromFile(RunLoop& loop, const std::string& path);

// The selection a file manager's extension publishes in the file at `path`, believed only for
// the file manager window in front (see FrontFolderSelection); nothing when this build has no
// X11 desktop or the file's folder cannot be watched.
std::unique_ptr<FileManagerSelection> selectionFromExtension(RunLoop& loop,
                                                             const std::string& path);

} // namespace x11

} // namespace scrivlet
