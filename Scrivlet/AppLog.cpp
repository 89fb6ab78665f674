#include "Scrivlet/AppLog.h"

namespace scrivlet {

namespace AppLog {

const Logger& app() {
    static const Logger logger(subsystem, "app");
    return logger;
}

const Logger& instance() {
    static const Logger logger(subsystem, "instance");
    return logger;
}

const Logger& install() {
    static const Logger logger(subsystem, "install");
    return logger;
}

const Logger& uninstall() {
    static const Logger logger(subsystem, "uninstall");
    return logger;
}

} // namespace AppLog

void appLog(const std::string& message) {
    AppLog::app().info("%{public}s", {message});
}

} // namespace scrivlet
