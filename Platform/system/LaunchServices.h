#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/URL.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

namespace scrivlet {

// Opening URLs as the workspace does: a URL goes to the running application that owns its
// scheme, and when none runs, the application registered for the scheme is started with it.
namespace LaunchServices {

struct OpenOptions {
    // How long an open may take in all, starting the application included.
    std::chrono::milliseconds timeout{5000};
    // Started when no application is registered for a scheme: a command that lives in an
    // application's bundle knows its application even before that ever ran.
    std::optional<std::filesystem::path> fallbackApplication;
};

// The exit status of a program that handed URLs over whole but had no answer in time
// (URLDelivery::unconfirmed): scrivlet-open, or a second copy of the app handing its URLs to
// the first. Neither failure nor success: the receiver acts on them once it gets to them.
inline constexpr int unconfirmedExitStatus = 3;

// The URLs of each scheme travel as one delivery, in their order, to the running receiver
// of the scheme (URLDelivery). When none answers, the registered application is started with
// them as its arguments, and the open succeeds once that application (or one that started in
// the meantime) answers, or once it has handed the URLs to another copy and ended. Opens made
// at the same time start one application between them. A missing, dead or hung application
// fails the open within `timeout`; a receiver that took the URLs but is too busy to answer in
// time, or a started application that has them and is still busy starting, makes it
// URLDelivery::unconfirmed(). Errors: no_such_file_or_directory (no application is
// registered), timed_out, connection_aborted (the started application ended without taking
// the URLs), and those of URLDelivery::deliver and of starting a process.
SCRIVLET_PLATFORM_API std::error_code openURLs(const std::vector<URL>& urls,
                                               const OpenOptions& options = {});

} // namespace LaunchServices

} // namespace scrivlet
