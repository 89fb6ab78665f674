#include "Platform/Screen.h"

#include "Platform/DesktopBackend.h"
#include "Platform/Services.h"

namespace scrivlet {

std::vector<Screen> Screen::screens() {
    return Services::current().desktop().screens();
}

std::optional<Screen> Screen::main() {
    return Services::current().desktop().mainScreen();
}

} // namespace scrivlet
