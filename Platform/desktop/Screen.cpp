#include "Platform/desktop/Screen.h"

#include "Platform/Services.h"
#include "Platform/desktop/DesktopBackend.h"

namespace scrivlet {

std::vector<Screen> Screen::screens() {
    return Services::current().desktop().screens();
}

std::optional<Screen> Screen::main() {
    return Services::current().desktop().mainScreen();
}

} // namespace scrivlet
