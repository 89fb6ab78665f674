// Launch steps whose behaviour arrives with later features. Each reports success so the
// launch sequence runs in its final order today.
#include "Scrivlet/AppDelegate.h"

namespace scrivlet {

bool AppDelegate::ensureSingleInstance() {
    return true;
}

bool AppDelegate::checkInstallLocation() {
    return true;
}

void AppDelegate::handleURL(const URL& /*url*/) {}

void AppDelegate::runUninstall() {}

} // namespace scrivlet
