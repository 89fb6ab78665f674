#pragma once

#include "Platform/system/DarwinNotifyCenter.h"
#include "Scrivcore/Export.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace scrivlet {

// Tells the file-manager extension, in its own process, that the badge of some files changed.
//
// The notice itself carries nothing, and several posts may reach the extension as one wake-up,
// so the paths wait in a small queue file beside the store: the app appends and posts, the
// extension drains whenever it is woken. Every access holds an exclusive flock on that file,
// which makes each drain atomic: a path is delivered to exactly one drain, and a path appended
// before a post is in the drain that post triggers (or an earlier one).
class SCRIVCORE_API BadgeRefreshNotifier {
public:
    static constexpr const char* darwinName = "com.scrivlet.badgeRefresh";

    // The queue never grows past this. Room is made first by dropping repeated paths, then by
    // dropping the oldest ones: a lost entry only costs a badge refresh, and the file manager
    // asks for badges again whenever it redraws.
    static constexpr std::size_t queueLimitBytes = std::size_t{256} * 1024;

    BadgeRefreshNotifier() = delete;

    // <group container>/badge-refresh.queue; entries are NUL-terminated, since paths may hold
    // any byte but that one.
    static std::filesystem::path queuePath();

    // Queues `path` and wakes the observers. Returns whether the path is queued. Paths that
    // are empty, hold a NUL or do not fit in PATH_MAX are refused; every failure is logged.
    static bool notifyChange(const std::string& path);

    // Takes every queued path, oldest first, each once. Empty when nothing is queued or the
    // queue cannot be read (logged); a path is never handed out twice.
    static std::vector<std::string> drainPendingPaths();

    // An observer of the notice that notifyChange posts; the caller drains when it fires.
    static std::unique_ptr<NotifyObserver> makeObserver(std::error_code& error);
};

} // namespace scrivlet
