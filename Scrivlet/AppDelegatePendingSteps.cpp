// Launch steps whose behaviour arrives with later features. Each reports success so the
// launch sequence runs in its final order today.
#include "Scrivlet/AppDelegate.h"

namespace scrivlet {

void AppDelegate::resolveBookmarks() {}

void AppDelegate::syncBadgeXattrs() {}

} // namespace scrivlet
