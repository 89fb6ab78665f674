#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/URL.h"
#include "Platform/desktop/Menu.h"
#include "Platform/desktop/Responder.h"

#include <memory>

namespace scrivlet {

// Which menu the file manager asks an extension for.
enum class FinderSyncMenuKind {
    contextualMenuForItems,
    contextualMenuForContainer,
    contextualMenuForSidebar,
    toolbarItemMenu
};

// The base of a Finder Sync extension's principal class: what the file manager calls. The
// file manager keeps the object for the life of the extension's process.
class SCRIVLET_PLATFORM_API FinderSync : public Responder {
public:
    // Answered by calling FinderSyncController::setBadgeIdentifier for the same URL.
    virtual void requestBadgeIdentifierForURL(const URL& url) = 0;
    // Built anew on every request; its items' actions go to the extension.
    virtual std::shared_ptr<Menu> menuForMenuKind(FinderSyncMenuKind kind) = 0;
};

// The one symbol a Finder Sync plug-in exports. It instantiates the principal class named in
// the plug-in's info file into `instance`, and answers false for a name it does not know.
using FinderSyncInstantiateFunction = bool (*)(const char* principalClass,
                                               std::shared_ptr<FinderSync>* instance);
inline constexpr const char* finderSyncInstantiateSymbol = "scrivletFinderSyncInstantiate";

} // namespace scrivlet
