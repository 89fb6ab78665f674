#include "Platform/AppleScript.h"

#include "Platform/Services.h"
#include "Platform/simulated/Desktop.h"

namespace scrivlet {

std::unique_ptr<AppleScript> AppleScript::withSource(std::string source) {
    if (source.empty()) {
        return nullptr;
    }
    return std::unique_ptr<AppleScript>(new AppleScript(std::move(source)));
}

std::optional<AppleEventDescriptor>
AppleScript::executeAndReturnError(std::map<std::string, std::string>* errorInfo) const {
    std::optional<std::string> answer =
        Services::current().desktop().finder().answerScript(source_);
    if (!answer) {
        if (errorInfo != nullptr) {
            (*errorInfo)["NSAppleScriptErrorNumber"] = "-1708";
            (*errorInfo)["NSAppleScriptErrorMessage"] = "The application did not understand it.";
        }
        return std::nullopt;
    }
    return AppleEventDescriptor(std::move(answer));
}

} // namespace scrivlet
