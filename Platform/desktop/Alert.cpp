#include "Platform/desktop/Alert.h"

#include "Platform/desktop/DesktopBackend.h"

namespace scrivlet {

ModalResponse Alert::runModal() const {
    AlertContents contents{alertStyle, messageText, informativeText, buttons_};
    if (contents.buttons.empty()) {
        contents.buttons.emplace_back("OK");
    }
    return DesktopBackend::current().runModalAlert(contents);
}

} // namespace scrivlet
