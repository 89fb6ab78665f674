#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/URL.h"
#include "Platform/desktop/Responder.h"

#include <memory>
#include <vector>

namespace scrivlet {

class Panel;

// What the application tells its delegate. Every call comes on the main thread.
class SCRIVLET_PLATFORM_API ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching() {}
    virtual void applicationOpenURLs(const std::vector<URL>& urls) { (void)urls; }
    virtual bool applicationShouldTerminateAfterLastWindowClosed() { return true; }
    // The run is over and the process ends next: the last moment to write what must not be
    // lost, while the platform and every timer still work.
    virtual void applicationWillTerminate() {}
};

// The application object: its delegate, its run, its termination and its activation.
// Termination stops the main run loop and is recorded; a real process ends once `run`
// returns, a simulated one lets the test look at the request.
class SCRIVLET_PLATFORM_API Application final : public Responder {
public:
    // The process's application object, as the composition root installed it.
    static Application& shared();
    static bool hasShared();
    static void setShared(Application* application);

    // The application does not own its delegate.
    void setDelegate(ApplicationDelegate* delegate) { delegate_ = delegate; }
    ApplicationDelegate* delegate() const { return delegate_; }

    // Delivers the URLs that started the process, then tells the delegate that launching
    // finished. `run` does this before it runs the main loop.
    void finishLaunching(const std::vector<URL>& launchURLs = {});
    bool isFinishedLaunching() const { return finishedLaunching_; }
    // Runs the main loop until the application terminates.
    void run(const std::vector<URL>& launchURLs = {});

    // A delivery of URLs of the app's schemes (from the system or another process).
    void openURLs(const std::vector<URL>& urls);
    // Delivers a URL the app opened itself to this process, as the system would: as an event
    // of its own, after the caller's. False when no main run loop can take it.
    static bool deliverURLLater(const URL& url);

    void terminate(const void* sender);
    bool isTerminationRequested() const { return terminationRequested_; }
    int terminationRequestCount() const { return terminationRequests_; }

    void activateIgnoringOtherApps(bool flag);
    bool isActive() const { return active_; }
    void setActive(bool active) { active_ = active; }

    // The app's windows: each is known from its creation; when one closes and none is left
    // on screen, the delegate is asked whether the app should terminate.
    void windowCreated(const std::shared_ptr<Panel>& window);
    void windowDidClose();

    // Where actions without a target go: the application is the end of every chain.
    std::vector<Responder*> responderChain() { return {this}; }

    bool respondsToSelector(const Selector& selector) const override;
    void performSelector(const Selector& selector, const void* sender) override;

private:
    ApplicationDelegate* delegate_ = nullptr;
    bool finishedLaunching_ = false;
    bool terminationRequested_ = false;
    int terminationRequests_ = 0;
    bool active_ = false;
    std::vector<std::weak_ptr<Panel>> windows_;
};

} // namespace scrivlet
