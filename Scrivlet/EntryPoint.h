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

} // namespace scrivlet
