#include "Platform/desktop/NotificationCenter.h"

#include "Platform/base/RunLoop.h"
#include "Platform/desktop/DesktopBackend.h"

namespace scrivlet {

NotificationCenter& NotificationCenter::defaultCenter() {
    return DesktopBackend::current().defaultNotificationCenter();
}

void NotificationCenter::addObserver(std::weak_ptr<const void> observer, std::string selector,
                                     std::string name, Handler handler) {
    entries_.push_back(
        {std::move(observer), std::move(selector), std::move(name), std::move(handler)});
}

void NotificationCenter::post(const Notification& notification) {
    // Copy: a handler may register more observers while it runs.
    deliver(std::vector<Entry>(entries_), notification);
}

void NotificationCenter::enqueue(RunLoop& loop, const Notification& notification) {
    loop.async([entries = entries_, notification] { deliver(entries, notification); });
}

void NotificationCenter::deliver(const std::vector<Entry>& entries,
                                 const Notification& notification) {
    for (const Entry& entry : entries) {
        if (entry.name != notification.name) {
            continue;
        }
        if (std::shared_ptr<const void> alive = entry.observer.lock()) {
            entry.handler(notification);
        }
    }
}

std::vector<NotificationCenter::Registration> NotificationCenter::registrations() const {
    std::vector<Registration> live;
    for (const Entry& entry : entries_) {
        if (!entry.observer.expired()) {
            live.push_back({entry.selector, entry.name});
        }
    }
    return live;
}

Workspace& Workspace::shared() {
    return DesktopBackend::current().workspace();
}

std::optional<RunningApplication> Workspace::frontmostApplication() const {
    const auto frontmost = DesktopBackend::current().frontmostApplication();
    if (!frontmost) {
        return std::nullopt;
    }
    return RunningApplication::withProcessIdentifier(frontmost->processIdentifier);
}

void Workspace::activateFileViewerSelectingURLs(const std::vector<URL>& fileURLs) {
    std::vector<std::string> paths;
    for (const URL& url : fileURLs) {
        if (const auto path = url.fileSystemPath()) {
            paths.push_back(path->string());
        }
    }
    if (!paths.empty()) {
        DesktopBackend::current().revealInFileManager(paths);
    }
}

bool Workspace::openURL(const URL& url) const {
    return DesktopBackend::current().openURL(url);
}

} // namespace scrivlet
