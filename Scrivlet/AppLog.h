#pragma once

#include "Platform/base/Log.h"

#include <string>

namespace scrivlet {

// The app's loggers: subsystem "com.scrivlet", one category per source area, each created
// once on first use. Safe from any thread.
namespace AppLog {

inline constexpr const char* subsystem = "com.scrivlet";

const Logger& app();
const Logger& instance();
const Logger& install();
const Logger& uninstall();

} // namespace AppLog

// One complete message, at info level in the "app" category, shown in full.
void appLog(const std::string& message);

} // namespace scrivlet
