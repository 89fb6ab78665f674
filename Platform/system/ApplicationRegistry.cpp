#include "Platform/system/ApplicationRegistry.h"

#include "Platform/base/FileHandle.h"
#include "Platform/base/Installed.h"
#include "Platform/system/AtomicFile.h"
#include "Platform/system/UserDirectories.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

constexpr const char* entrySuffix = ".app";
constexpr const char* lockFileName = "registry.lock";

PlatformError registryError(const std::string& what, std::error_code code) {
    return PlatformError{code, what + ": " + code.message()};
}

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// An entry is a few hundred bytes; anything much larger was not written by a registry.
constexpr std::size_t maximumEntryBytes = std::size_t{64} * 1024;

// The contents of an entry that this user wrote: a regular file of this user's, opened
// without following a link or waiting on a FIFO.
std::optional<std::string> readOwnEntry(const fs::path& file) {
    const FileHandle entry(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    const int fd = entry.get();
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat info {};
    std::optional<std::string> contents;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::getuid() &&
        static_cast<std::size_t>(info.st_size) <= maximumEntryBytes) {
        std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
        const ssize_t got = ::read(fd, bytes.data(), bytes.size());
        if (got >= 0) {
            bytes.resize(static_cast<std::size_t>(got));
            contents = std::move(bytes);
        }
    }
    return contents;
}

std::optional<ApplicationRecord> parseRecord(const fs::path& file) {
    const std::optional<std::string> text = readOwnEntry(file);
    if (!text) {
        return std::nullopt;
    }
    const nlohmann::json entry = nlohmann::json::parse(*text, nullptr, false);
    if (!entry.is_object()) {
        return std::nullopt;
    }
    ApplicationRecord record;
    try {
        record.processIdentifier = entry.at("pid").get<pid_t>();
        record.bundleIdentifier = entry.at("bundleIdentifier").get<std::string>();
        record.bundlePath = entry.at("bundlePath").get<std::string>();
        record.startTime = entry.at("startTime").get<std::uint64_t>();
        record.terminated = entry.at("terminated").get<bool>();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt; // not an entry this registry wrote
    }
    return record;
}

std::string serialise(const ApplicationRecord& record) {
    const nlohmann::json entry = {{"pid", record.processIdentifier},
                                  {"bundleIdentifier", record.bundleIdentifier},
                                  {"bundlePath", record.bundlePath.string()},
                                  {"startTime", record.startTime},
                                  {"terminated", record.terminated}};
    return entry.dump() + "\n";
}

} // namespace

ApplicationRegistry::ApplicationRegistry(fs::path directory) : directory_(std::move(directory)) {}

ApplicationRegistry::~ApplicationRegistry() {
    // A forked child inherits this object but not the parent's registration.
    if (current_ && current_->processIdentifier == ::getpid()) {
        std::error_code ignored;
        fs::remove(entryPath(current_->processIdentifier), ignored);
    }
}

fs::path ApplicationRegistry::defaultDirectory() {
    return UserDirectories::runtimeDirectory() / "applications";
}

namespace {
ApplicationRegistry* sharedRegistry = nullptr;
}

ApplicationRegistry& ApplicationRegistry::shared() {
    return installedOrStop(sharedRegistry);
}

void ApplicationRegistry::setShared(ApplicationRegistry* registry) {
    sharedRegistry = registry;
}

fs::path ApplicationRegistry::entryPath(pid_t processIdentifier) const {
    return directory_ / (std::to_string(processIdentifier) + entrySuffix);
}

std::optional<std::uint64_t> ApplicationRegistry::startTimeOf(pid_t processIdentifier) {
    std::ifstream in("/proc/" + std::to_string(processIdentifier) + "/stat");
    std::string line;
    if (!std::getline(in, line)) {
        return std::nullopt;
    }
    // The command name in parentheses may hold spaces and parentheses; fields follow the last.
    const auto nameEnd = line.rfind(')');
    if (nameEnd == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(line.substr(nameEnd + 1));
    std::string state;
    fields >> state; // field 3
    if (state == "Z" || state == "X") {
        return std::nullopt; // ended, only not yet reaped
    }
    std::string skipped;
    for (int field = 4; field < 22; ++field) {
        fields >> skipped;
    }
    std::uint64_t startTime = 0;
    if (!(fields >> startTime)) {
        return std::nullopt;
    }
    return startTime;
}

bool ApplicationRegistry::isAlive(const ApplicationRecord& record) {
    return record.processIdentifier > 0 &&
           startTimeOf(record.processIdentifier) == record.startTime;
}

std::vector<ApplicationRecord> ApplicationRegistry::liveRecords() const {
    std::vector<ApplicationRecord> records;
    // In a folder that others can write to, any entry may be planted: none counts.
    if (UserDirectories::checkPrivateDirectory(directory_)) {
        return records;
    }
    std::error_code error;
    for (const fs::directory_entry& file : fs::directory_iterator(directory_, error)) {
        if (file.path().extension() != entrySuffix) {
            continue;
        }
        if (std::optional<ApplicationRecord> record = parseRecord(file.path());
            record && isAlive(*record)) {
            records.push_back(std::move(*record));
        }
    }
    std::sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
        return a.processIdentifier < b.processIdentifier;
    });
    return records;
}

std::optional<ApplicationRecord> ApplicationRegistry::currentRecord() const {
    return current_;
}

ApplicationRegistry::ExclusiveAccess::ExclusiveAccess(ExclusiveAccess&& other) noexcept
    : fd_(std::move(other.fd_)), error_(std::move(other.error_)) {}

// Closing the last descriptor releases the lock.
ApplicationRegistry::ExclusiveAccess::~ExclusiveAccess() = default;

ApplicationRegistry::ExclusiveAccess ApplicationRegistry::lockExclusively() const {
    if (const auto problem = UserDirectories::ensurePrivateDirectory(directory_)) {
        if (problem->code == UserDirectories::folderNotPrivate()) {
            return {-1, problem};
        }
        return {-1, registryError("Cannot create " + directory_.string(), problem->code)};
    }
    const fs::path lockPath = directory_ / lockFileName;
    FileHandle lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock.isValid()) {
        return {-1, registryError("Cannot open " + lockPath.string(), lastError())};
    }
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            return {-1, registryError("Cannot lock " + lockPath.string(), lastError())};
        }
    }
    return {lock.release(), std::nullopt};
}

void ApplicationRegistry::removeEndedEntries() const {
    std::error_code error;
    for (const fs::directory_entry& file : fs::directory_iterator(directory_, error)) {
        if (file.path().extension() != entrySuffix) {
            continue;
        }
        const std::optional<ApplicationRecord> record = parseRecord(file.path());
        if (!record || !isAlive(*record)) {
            std::error_code ignored;
            fs::remove(file.path(), ignored);
        }
    }
}

std::optional<PlatformError>
ApplicationRegistry::registerCurrentProcess(const ExclusiveAccess& access,
                                            const std::string& bundleIdentifier,
                                            const fs::path& bundlePath) {
    if (!access.isHeld()) {
        return access.error().value_or(registryError(
            "The registry is not locked", std::make_error_code(std::errc::no_lock_available)));
    }
    removeEndedEntries();
    const pid_t self = ::getpid();
    ApplicationRecord record{self, bundleIdentifier, bundlePath, startTimeOf(self).value_or(0),
                             false};
    if (auto error = writeRecord(record)) {
        return error;
    }
    current_ = std::move(record);
    return std::nullopt;
}

void ApplicationRegistry::markCurrentProcessTerminated() {
    if (!current_ || current_->terminated || current_->processIdentifier != ::getpid()) {
        return;
    }
    current_->terminated = true;
    // Best effort: if the flag cannot be written the entry goes when the process ends.
    (void)writeRecord(*current_);
}

std::optional<PlatformError>
ApplicationRegistry::writeRecord(const ApplicationRecord& record) const {
    const fs::path entry = entryPath(record.processIdentifier);
    if (auto failed = replaceFileAtomically(entry, serialise(record), 0600)) {
        return registryError("Cannot write " + entry.string(), failed->code);
    }
    return std::nullopt;
}

} // namespace scrivlet
