#include "Platform/base/Installed.h"

#include <cstdio>
#include <cstdlib>

namespace scrivlet {

void stopBeforeInstalled() {
    std::fputs("platform services used before they were installed\n", stderr);
    std::abort();
}

} // namespace scrivlet
