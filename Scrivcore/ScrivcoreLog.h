#pragma once

#include "Platform/base/Log.h"
#include "Scrivcore/Export.h"

namespace scrivlet {

// Scrivcore's own loggers, one per area, each created once on first use.
namespace ScrivcoreLog {

inline constexpr const char* subsystem = "com.scrivlet.Scrivcore";

SCRIVCORE_API const Logger& store();      // opening, migrating, saving
SCRIVCORE_API const Logger& attributes(); // badge attribute, tags and comment on files
SCRIVCORE_API const Logger& badges();     // the cross-process badge notice and its queue

} // namespace ScrivcoreLog

} // namespace scrivlet
