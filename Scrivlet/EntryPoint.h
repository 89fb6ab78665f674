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

// The entry point's last steps, while the platform services still exist, in this order: the
// delegate hears that the application will terminate (pending panel edits are written, or
// logged as lost), the application lets go of it, the app's state is released, and then the
// main run loop drops the work still pending on it, which can hold app objects (a fade holds
// the panel, and the panel its view model) that must not outlive the platform.
void releaseAppDelegate();

} // namespace scrivlet
