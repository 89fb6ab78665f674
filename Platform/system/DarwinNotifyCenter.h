#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/FileHandle.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace scrivlet {

// Named notices between processes of the same user, without a daemon. A notice carries no
// payload: it only says "something called <name> happened", and several posts that arrive
// before an observer looks may reach it as one. Anything an observer must not lose (which
// files changed, say) travels beside the notice, not in it.
//
// A notice named N is the file <runtime directory>/notices/N. Posting opens it for writing and
// closes it; observers hold an inotify watch on the folder and pick out their own name. Both
// refuse, with a log line, a folder that someone else could have put files in
// (UserDirectories::checkPrivateDirectory).
namespace DarwinNotifyCenter {

// The folder the notice files live in; per user, 0700.
SCRIVLET_PLATFORM_API std::filesystem::path noticeDirectory();

// A name must be usable as a single file name: not empty, not "." or "..", no '/' or NUL,
// and at most NAME_MAX bytes.
SCRIVLET_PLATFORM_API bool isValidName(std::string_view name);

// Wakes every observer of `name`, in any process of this user. Never throws: a failure is
// logged and returned, and posting with nobody listening is not a failure.
SCRIVLET_PLATFORM_API std::error_code post(const std::string& name);

} // namespace DarwinNotifyCenter

// Receives the notices of one name. It spawns no thread: the owner watches fileDescriptor()
// for readability (a run loop source) and calls consumePendingNotices() when it fires, or
// blocks in waitForNotice(). Every post made after create() returns is seen.
class SCRIVLET_PLATFORM_API NotifyObserver {
public:
    // Null, with `error` set, when the name is invalid or the watch cannot be set up.
    static std::unique_ptr<NotifyObserver> create(const std::string& name, std::error_code& error);

    ~NotifyObserver();
    NotifyObserver(const NotifyObserver&) = delete;
    NotifyObserver& operator=(const NotifyObserver&) = delete;

    const std::string& name() const { return name_; }

    // Non-blocking; readable while notices (possibly of other names) wait to be consumed.
    int fileDescriptor() const { return fd_.get(); }

    // Reads what is queued without blocking and returns how many posts of this name it held.
    // Coalesced posts count once; when the kernel dropped events, it answers at least 1 since
    // a post of ours may have been among them.
    std::size_t consumePendingNotices();

    // Returns true as soon as a notice of this name is consumed, false when `timeout` passes
    // without one. A negative timeout waits indefinitely.
    bool waitForNotice(std::chrono::milliseconds timeout);

private:
    NotifyObserver(std::string name, std::filesystem::path directory, FileHandle fd, int watch);
    std::error_code rewatch();
    std::size_t readPendingNotices();

    std::string name_;
    std::filesystem::path directory_;
    FileHandle fd_;
    int watch_ = -1;
};

} // namespace scrivlet
