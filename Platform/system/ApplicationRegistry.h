#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/FileHandle.h"
#include "Platform/base/PlatformError.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace scrivlet {

// One live app process as the registry lists it. `startTime` is the kernel's start time of
// the process (clock ticks after boot): with the process id it names one process, so an
// entry left by a dead process never speaks for a later process that got the same id.
struct SCRIVLET_PLATFORM_API ApplicationRecord {
    pid_t processIdentifier = 0;
    std::string bundleIdentifier;
    std::filesystem::path bundlePath;
    std::uint64_t startTime = 0;
    bool terminated = false;
};

// The per-user registry of running app processes, one small file per process in a private
// folder of the runtime directory. Readers need no lock: an entry appears and changes by
// rename, so it is read whole or not at all. Entries whose process has ended (a crash,
// SIGKILL, a recycled process id) are never listed, and are removed by the next registration.
// Only what this user wrote counts: a folder that others could write to lists nothing and
// cannot be registered in (UserDirectories::checkPrivateDirectory), and a file that is not a
// regular file of this user's is no entry.
class SCRIVLET_PLATFORM_API ApplicationRegistry {
public:
    explicit ApplicationRegistry(std::filesystem::path directory);
    // Withdraws this process's entry, if it made one.
    ~ApplicationRegistry();
    ApplicationRegistry(const ApplicationRegistry&) = delete;
    ApplicationRegistry& operator=(const ApplicationRegistry&) = delete;

    // <runtime directory>/applications
    static std::filesystem::path defaultDirectory();
    // This user's registry as the composition root installed it for the process.
    static ApplicationRegistry& shared();
    static void setShared(ApplicationRegistry* registry);

    const std::filesystem::path& directory() const { return directory_; }

    // Entries of processes that are alive now, in process-id order.
    std::vector<ApplicationRecord> liveRecords() const;
    // This process's entry once it registered.
    std::optional<ApplicationRecord> currentRecord() const;

    // Holds the registry for one process at a time (an advisory lock on a file, released when
    // the object goes or the process ends), so that a look-up and the registration that
    // depends on it form one step for all processes of the user.
    class SCRIVLET_PLATFORM_API ExclusiveAccess {
    public:
        ExclusiveAccess(ExclusiveAccess&& other) noexcept;
        ExclusiveAccess& operator=(ExclusiveAccess&&) = delete;
        ExclusiveAccess(const ExclusiveAccess&) = delete;
        ExclusiveAccess& operator=(const ExclusiveAccess&) = delete;
        ~ExclusiveAccess();

        bool isHeld() const { return fd_.isValid(); }
        // Why the lock could not be taken.
        const std::optional<PlatformError>& error() const { return error_; }

    private:
        friend class ApplicationRegistry;
        ExclusiveAccess(int fd, std::optional<PlatformError> error)
            : fd_(fd), error_(std::move(error)) {}
        FileHandle fd_;
        std::optional<PlatformError> error_;
    };
    // Waits until no other process holds the registry.
    ExclusiveAccess lockExclusively() const;

    // Adds this process while `access` holds the registry, removing entries of ended processes.
    std::optional<PlatformError> registerCurrentProcess(const ExclusiveAccess& access,
                                                        const std::string& bundleIdentifier,
                                                        const std::filesystem::path& bundlePath);
    // The app is on its way out: its entry no longer stands for a running copy.
    void markCurrentProcessTerminated();

    // Whether the process that `record` describes still runs (an unreaped zombie does not).
    static bool isAlive(const ApplicationRecord& record);
    // The kernel's start time of a running process; nothing when it has ended.
    static std::optional<std::uint64_t> startTimeOf(pid_t processIdentifier);

private:
    std::optional<PlatformError> writeRecord(const ApplicationRecord& record) const;
    void removeEndedEntries() const;
    std::filesystem::path entryPath(pid_t processIdentifier) const;

    std::filesystem::path directory_;
    std::optional<ApplicationRecord> current_;
};

} // namespace scrivlet
