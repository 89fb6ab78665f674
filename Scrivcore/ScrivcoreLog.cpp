#include "Scrivcore/ScrivcoreLog.h"

namespace scrivlet {

namespace ScrivcoreLog {

const Logger& store() {
    static const Logger logger(subsystem, "store");
    return logger;
}

const Logger& attributes() {
    static const Logger logger(subsystem, "attributes");
    return logger;
}

const Logger& badges() {
    static const Logger logger(subsystem, "badges");
    return logger;
}

} // namespace ScrivcoreLog

} // namespace scrivlet
