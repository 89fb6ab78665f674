#include "Platform/Screen.h"

#include "Platform/Services.h"
#include "Platform/simulated/Desktop.h"

std::vector<Screen> Screen::screens() {
    return Services::current().desktop().screens();
}

std::optional<Screen> Screen::main() {
    return Services::current().desktop().mainScreen();
}
