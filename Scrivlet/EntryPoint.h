#pragma once

#include <memory>

namespace scrivlet {

class AppDelegate;

// The one delegate, kept alive for the whole process beside the shared application object
// (the application does not own its delegate).
std::shared_ptr<AppDelegate>& sharedAppDelegate();

// The entry point's first steps: obtain the shared application, create one delegate and
// make it the application's delegate. Platform services must be installed.
AppDelegate& installAppDelegate();

// The program: installs the real platform services, hands the URLs among the arguments to
// the application as the system does for a URL that starts the app, and runs until the
// application terminates (its menu, SIGINT or SIGTERM). Answers the exit status.
int scrivletMain(int argc, char** argv);

} // namespace scrivlet
