#pragma once

#include "Platform/base/URL.h"

#include <filesystem>
#include <memory>
#include <vector>

namespace scrivlet {

class AppDelegate;
class DesktopControl;
class LogCapture;
class Services;
class SimulatedDesktop;
class TempHome;

// One run of the app in a sandbox: a temporary home, the simulated desktop on a virtual
// clock, captured logs, and the app's own entry-point steps. Tests and the scenario runner
// act on it as a user and the system would.
class AppSession {
public:
    // The app bundle is installed at ~/Applications/Scrivlet.app, with its executable.
    AppSession();
    // The app bundle is at `bundlePath` (below the home when relative); only a bundle below
    // the home gets an executable.
    explicit AppSession(const std::filesystem::path& bundlePath);
    ~AppSession();
    AppSession(const AppSession&) = delete;
    AppSession& operator=(const AppSession&) = delete;

    TempHome& home() { return *home_; }
    Services& services() { return *services_; }
    DesktopControl& desktop() { return *desktop_; }
    // The desktop model itself, for scenes the control side has no verb for.
    SimulatedDesktop& simulatedDesktop();
    LogCapture& log() { return *log_; }

    // One delivery of URLs by the system. Before launch these are URLs that start the app:
    // they reach the delegate before launching finishes, one delivery after another.
    // Afterwards a delivery reaches it at once.
    void deliverURLs(const std::vector<URL>& urls);
    // The entry point: the shared application, one delegate, launch; then the run loop
    // handles what launching left for it.
    void launch();
    // Only the launch: nothing posted during it has run yet when this returns.
    void finishLaunching();
    bool isLaunched() const { return launched_; }
    AppDelegate* delegate() const;
    bool isTerminated() const;
    // The end of the process after the application terminated, as the real program ends:
    // pending edits are written, the app's objects are released, and the work pending on
    // the run loop is dropped.
    void exitProcess();
    // Moves the virtual clock, running everything that falls due.
    void advance(double seconds);

private:
    std::unique_ptr<TempHome> home_;
    std::unique_ptr<LogCapture> log_;
    std::unique_ptr<Services> services_;
    std::unique_ptr<DesktopControl> desktop_;
    std::vector<std::vector<URL>> earlyDeliveries_;
    bool launched_ = false;
};

} // namespace scrivlet
