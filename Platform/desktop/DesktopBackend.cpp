#include "Platform/desktop/DesktopBackend.h"

#include "Platform/base/Installed.h"

namespace scrivlet {

namespace {
DesktopBackend* currentBackend = nullptr;
}

DesktopBackend& DesktopBackend::current() {
    return installedOrStop(currentBackend);
}

void DesktopBackend::setCurrent(DesktopBackend* backend) {
    currentBackend = backend;
}

} // namespace scrivlet
