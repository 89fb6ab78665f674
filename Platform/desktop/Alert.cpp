#include "Platform/desktop/Alert.h"

#include "Platform/Services.h"
#include "Platform/desktop/DesktopBackend.h"

namespace scrivlet {

ModalResponse Alert::runModal() const {
    AlertContents contents{alertStyle, messageText, informativeText, buttons_};
    if (contents.buttons.empty()) {
        contents.buttons.emplace_back("OK");
    }
    return Services::current().desktop().runModalAlert(contents);
}

} // namespace scrivlet
