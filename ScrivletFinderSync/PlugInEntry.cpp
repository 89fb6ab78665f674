#include "ScrivletFinderSync/FinderSyncExtension.h"

#include <cstring>

// The plug-in's one exported symbol: the file manager's host instantiates the principal class
// that the info file names through it. Nothing thrown here may reach the host.
extern "C" __attribute__((visibility("default"))) bool
scrivletFinderSyncInstantiate(const char* principalClass,
                              std::shared_ptr<scrivlet::FinderSync>* instance) {
    if (principalClass == nullptr || instance == nullptr ||
        std::strcmp(principalClass, "FinderSyncExtension") != 0) {
        return false;
    }
    try {
        *instance = scrivlet::FinderSyncExtension::make();
        return true;
    } catch (...) {
        return false;
    }
}
