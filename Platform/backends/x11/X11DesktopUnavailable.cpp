// A build without the X11 desktop (its toolkit is left out, as in the fuzzing build).
#include "Platform/backends/x11/X11DesktopFactory.h"

namespace scrivlet::x11 {

std::unique_ptr<DesktopBackend> openX11Desktop(RunLoop& /*loop*/,
                                               std::unique_ptr<FileManagerSelection> /*selection*/,
                                               std::function<bool(const URL&)> /*urlOpener*/,
                                               std::string& error) {
    error = "this build of Scrivlet has no X11 desktop";
    return nullptr;
}

std::unique_ptr<FileManagerSelection> selectionFromAccessibility(RunLoop& /*loop*/) {
    return nullptr;
}

std::unique_ptr<FileManagerSelection> selectionFromFile(RunLoop& /*loop*/,
                                                        const std::string& /*path*/) {
    return nullptr;
}

std::unique_ptr<FileManagerSelection> selectionFromExtension(RunLoop& /*loop*/,
                                                             const std::string& /*path*/) {
    return nullptr;
}

} // namespace scrivlet::x11
