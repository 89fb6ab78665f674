#include "Platform/desktop/AppleScript.h"

#include "Platform/desktop/DesktopBackend.h"

namespace scrivlet {

std::unique_ptr<AppleScript> AppleScript::withSource(std::string source) {
    if (source.empty()) {
        return nullptr;
    }
    return std::unique_ptr<AppleScript>(new AppleScript(std::move(source)));
}

std::optional<AppleEventDescriptor>
AppleScript::executeAndReturnError(std::map<std::string, std::string>* errorInfo) const {
    ScriptReply reply = DesktopBackend::current().runScript(source_);
    if (!reply.text) {
        if (errorInfo != nullptr) {
            *errorInfo = std::move(reply.errorInfo);
        }
        return std::nullopt;
    }
    return AppleEventDescriptor(std::move(reply.text));
}

} // namespace scrivlet
