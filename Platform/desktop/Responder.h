#pragma once

#include "Platform/base/Export.h"

#include <string>

namespace scrivlet {

// An action is named by its selector ("terminate:", "uninstallApp"), as the menus of the
// desktop name them; a responder says which selectors it handles and performs them.
using Selector = std::string;

class SCRIVLET_PLATFORM_API Responder {
public:
    virtual ~Responder() = default;
    virtual bool respondsToSelector(const Selector& selector) const = 0;
    // `sender` is the object that asked (a menu item), or null.
    virtual void performSelector(const Selector& selector, const void* sender) = 0;
};

} // namespace scrivlet
