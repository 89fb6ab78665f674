#pragma once

#include "Platform/Log.h"

namespace scrivlet {

// Scrivcore's own loggers, one per area, each created once on first use.
namespace ScrivcoreLog {

inline constexpr const char* subsystem = "com.scrivlet.Scrivcore";

const Logger& store();      // opening, migrating, saving
const Logger& attributes(); // badge attribute, tags and comment on files
const Logger& badges();     // the cross-process badge notice and its queue

} // namespace ScrivcoreLog

} // namespace scrivlet
