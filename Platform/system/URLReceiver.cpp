#include "Platform/system/URLReceiver.h"

#include "Platform/base/FileHandle.h"
#include "Platform/system/UserDirectories.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// The lock says which process is the receiver; it goes with the process, however it ends.
FileHandle takeLock(const fs::path& path, std::error_code& error) {
    FileHandle fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
    if (!fd.isValid()) {
        error = lastError();
        return {};
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? std::make_error_code(std::errc::device_or_resource_busy)
                                     : lastError();
        return {};
    }
    return fd;
}

// Only the lock holder gets here, so a socket in the way was left by a receiver that ended.
FileHandle listenAt(const fs::path& path, std::error_code& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.native().size());
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            error = std::make_error_code(std::errc::file_exists);
            return {};
        }
        ::unlink(path.c_str());
    }
    FileHandle fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.isValid()) {
        error = lastError();
        return {};
    }
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd.get(), URLReceiver::backlog) != 0) {
        error = lastError();
        return {};
    }
    // The folder is the user's alone already; the socket says so too.
    ::chmod(path.c_str(), 0600);
    return fd;
}

} // namespace

std::unique_ptr<URLReceiver> URLReceiver::claim(const std::string& scheme, std::error_code& error) {
    error.clear();
    const std::optional<std::string> name = URLDelivery::normalizedScheme(scheme);
    if (!name) {
        error = std::make_error_code(std::errc::invalid_argument);
        return nullptr;
    }
    const fs::path socket = URLDelivery::socketPath(*name);
    if (socket.native().size() >= sizeof(sockaddr_un::sun_path)) {
        error = std::make_error_code(std::errc::filename_too_long);
        return nullptr;
    }
    if (const auto refused = UserDirectories::ensurePrivateDirectory(socket.parent_path())) {
        error = refused->code;
        return nullptr;
    }
    FileHandle lock = takeLock(URLDelivery::receiverLockPath(*name), error);
    if (!lock.isValid()) {
        return nullptr;
    }
    FileHandle listener = listenAt(socket, error);
    if (!listener.isValid()) {
        return nullptr;
    }
    return std::unique_ptr<URLReceiver>(
        new URLReceiver(*name, std::move(lock), std::move(listener)));
}

URLReceiver::URLReceiver(std::string scheme, FileHandle lock, FileHandle listener)
    : scheme_(std::move(scheme)), lock_(std::move(lock)), listener_(std::move(listener)) {}

URLReceiver::~URLReceiver() {
    senders_.reset();
    listener_.reset();
    ::unlink(URLDelivery::socketPath(scheme_).c_str());
    lock_.reset();
}

void URLReceiver::start(RunLoop& loop, Handler handler) {
    handler_ = std::move(handler);
    ClientConnections::Limits limits;
    limits.maximumConnections = maximumConnections;
    limits.idleTimeout = senderIdleTimeout;
    limits.lifetime = senderTimeout;
    ClientConnections::Handlers handlers;
    handlers.readable = [this](int fd) { readFrom(fd); };
    handlers.dropped = [this](int fd) { deliveries_.erase(fd); };
    senders_ =
        std::make_unique<ClientConnections>(loop, listener_.get(), limits, std::move(handlers));
}

void URLReceiver::readFrom(int fd) {
    URLDelivery::Decoder& decoder = deliveries_[fd];
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
        if (count > 0) {
            if (!decoder.append({buffer, static_cast<std::size_t>(count)})) {
                return finish(fd, false);
            }
        } else if (count == 0) {
            return finish(fd, true);
        } else if (errno == EAGAIN) {
            return; // the rest comes later
        } else if (errno != EINTR) {
            return drop(fd);
        }
    }
}

void URLReceiver::finish(int fd, bool wellFormed) {
    // The sender leaves the loop before the handler runs: whatever the handler does, this
    // sender is answered exactly once.
    std::optional<std::vector<URL>> urls;
    if (wellFormed) {
        urls = deliveries_.at(fd).finish();
    }
    deliveries_.erase(fd);
    const FileHandle sender = senders_->release(fd);
    if (urls && !urls->empty()) {
        handler_(*urls);
    }
    const auto status = urls ? URLDelivery::Status::delivered : URLDelivery::Status::refused;
    [[maybe_unused]] const ssize_t sent =
        ::send(sender.get(), &status, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
}

void URLReceiver::drop(int fd) {
    deliveries_.erase(fd);
    senders_->release(fd); // closes it
}

} // namespace scrivlet
