#include "Platform/desktop/Screen.h"

#include "Platform/desktop/DesktopBackend.h"

namespace scrivlet {

std::vector<Screen> Screen::screens() {
    return DesktopBackend::current().screens();
}

std::optional<Screen> Screen::main() {
    return DesktopBackend::current().mainScreen();
}

} // namespace scrivlet
