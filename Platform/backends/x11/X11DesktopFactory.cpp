#include "Platform/backends/x11/X11DesktopFactory.h"

#include "Platform/backends/atspi/AtspiFileManagerSelection.h"
#include "Platform/backends/x11/SelectionFile.h"
#include "Platform/backends/x11/X11Desktop.h"

namespace scrivlet::x11 {

std::unique_ptr<DesktopBackend> openX11Desktop(RunLoop& loop,
                                               std::unique_ptr<FileManagerSelection> selection,
                                               std::function<bool(const URL&)> urlOpener,
                                               std::string& error) {
    std::unique_ptr<X11Desktop> desktop = X11Desktop::open(loop, std::move(selection), error);
    if (desktop) {
        desktop->setURLOpener(std::move(urlOpener));
    }
    return desktop;
}

std::unique_ptr<FileManagerSelection> selectionFromAccessibility(RunLoop& loop) {
    return atspi::makeAtspiFileManagerSelection(loop);
}

std::unique_ptr<FileManagerSelection> selectionFromFile(RunLoop& loop, const std::string& path) {
    return SelectionFile::watch(loop, path);
}

} // namespace scrivlet::x11
