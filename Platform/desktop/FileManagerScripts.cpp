#include "Platform/desktop/FileManagerScripts.h"

namespace scrivlet {

const std::string& fileManagerSelectionScript() {
    static const std::string script = "tell application \"Finder\"\n"
                                      "    set sel to selection\n"
                                      "    if (count of sel) = 1 then\n"
                                      "        return POSIX path of (item 1 of sel as alias)\n"
                                      "    else\n"
                                      "        return \"\"\n"
                                      "    end if\n"
                                      "end tell";
    return script;
}

ScriptReply scriptErrorReply(const char* number, const std::string& message) {
    ScriptReply reply;
    reply.errorInfo["NSAppleScriptErrorNumber"] = number;
    reply.errorInfo["NSAppleScriptErrorMessage"] = message;
    return reply;
}

} // namespace scrivlet
