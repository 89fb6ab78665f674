#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/URL.h"
#include "Platform/desktop/RunningApplication.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace scrivlet {

class RunLoop;

inline constexpr const char* NSWorkspaceDidActivateApplicationNotification =
    "NSWorkspaceDidActivateApplicationNotification";
inline constexpr const char* NSWorkspaceDidLaunchApplicationNotification =
    "NSWorkspaceDidLaunchApplicationNotification";
inline constexpr const char* NSWorkspaceDidTerminateApplicationNotification =
    "NSWorkspaceDidTerminateApplicationNotification";
inline constexpr const char* NSWorkspaceActiveSpaceDidChangeNotification =
    "NSWorkspaceActiveSpaceDidChangeNotification";
inline constexpr const char* NSApplicationDidChangeScreenParametersNotification =
    "NSApplicationDidChangeScreenParametersNotification";

struct SCRIVLET_PLATFORM_API Notification {
    std::string name;
    // The user info's NSWorkspaceApplicationKey: the application the notice is about.
    std::optional<RunningApplication> application;
};

// Delivers notifications to the observers registered for their name, in registration order,
// on the thread that posts (the system posts on the main thread). An observer is held weakly:
// once its owner is gone it hears nothing more.
class SCRIVLET_PLATFORM_API NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    // The application's default centre.
    static NotificationCenter& defaultCenter();

    // `selector` names the method the handler calls, for those who look at registrations.
    void addObserver(std::weak_ptr<const void> observer, std::string selector, std::string name,
                     Handler handler);
    void post(const Notification& notification);
    // Posts now to the observers registered now, delivered on `loop` after the current event,
    // as the system delivers its notifications.
    void enqueue(RunLoop& loop, const Notification& notification);

    struct Registration {
        std::string selector;
        std::string name;
    };
    // Live registrations, in order.
    std::vector<Registration> registrations() const;

private:
    struct Entry {
        std::weak_ptr<const void> observer;
        std::string selector;
        std::string name;
        Handler handler;
    };
    static void deliver(const std::vector<Entry>& entries, const Notification& notification);
    std::vector<Entry> entries_;
};

// The workspace: its notification centre, the frontmost application, switching Spaces, and
// opening URLs in the application that owns their scheme.
class SCRIVLET_PLATFORM_API Workspace {
public:
    static Workspace& shared();

    NotificationCenter& notificationCenter() { return notificationCenter_; }
    std::optional<RunningApplication> frontmostApplication() const;
    // Opens a file manager window with these files selected (file URLs; others are skipped).
    void activateFileViewerSelectingURLs(const std::vector<URL>& fileURLs);
    // Hands the URL to the running application that owns its scheme, or starts the one
    // registered for it with the URL; false when neither took it within a few seconds.
    bool openURL(const URL& url) const;

private:
    NotificationCenter notificationCenter_;
};

} // namespace scrivlet
