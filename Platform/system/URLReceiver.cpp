#include "Platform/system/URLReceiver.h"

#include "Platform/system/FileHandle.h"
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

struct URLReceiver::Connection {
    RunLoop::SourceID source = 0;
    Scheduler::TimerID deadline = Scheduler::invalidTimer;
    URLDelivery::Decoder decoder;
};

namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// The lock says which process is the receiver; it goes with the process, however it ends.
int takeLock(const fs::path& path, std::error_code& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0) {
        error = lastError();
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? std::make_error_code(std::errc::device_or_resource_busy)
                                     : lastError();
        ::close(fd);
        return -1;
    }
    return fd;
}

// Only the lock holder gets here, so a socket in the way was left by a receiver that ended.
int listenAt(const fs::path& path, std::error_code& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.native().size());
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            error = std::make_error_code(std::errc::file_exists);
            return -1;
        }
        ::unlink(path.c_str());
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = lastError();
        return -1;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, SOMAXCONN) != 0) {
        error = lastError();
        ::close(fd);
        return -1;
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
    if ((error = UserDirectories::ensureDirectory(socket.parent_path()))) {
        return nullptr;
    }
    const int lock = takeLock(URLDelivery::receiverLockPath(*name), error);
    if (lock < 0) {
        return nullptr;
    }
    const int listener = listenAt(socket, error);
    if (listener < 0) {
        ::close(lock);
        return nullptr;
    }
    return std::unique_ptr<URLReceiver>(new URLReceiver(*name, lock, listener));
}

URLReceiver::URLReceiver(std::string scheme, int lock, int listener)
    : scheme_(std::move(scheme)), lock_(lock), listener_(listener) {}

URLReceiver::~URLReceiver() {
    while (!connections_.empty()) {
        drop(connections_.begin()->first);
    }
    if (loop_ != nullptr) {
        loop_->removeSource(listenerSource_);
    }
    ::close(listener_);
    ::unlink(URLDelivery::socketPath(scheme_).c_str());
    ::close(lock_);
}

void URLReceiver::start(RunLoop& loop, Handler handler) {
    loop_ = &loop;
    handler_ = std::move(handler);
    listenerSource_ = loop.addFileDescriptorSource(listener_, [this] { acceptConnections(); });
}

void URLReceiver::acceptConnections() {
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return; // EAGAIN: nothing more waits
        }
        if (connections_.size() >= maximumConnections || !URLDelivery::peerIsCurrentUser(fd)) {
            ::close(fd); // the sender sees the connection end without an answer
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->source = loop_->addFileDescriptorSource(fd, [this, fd] { readFrom(fd); });
        connection->deadline = loop_->scheduleAfter(senderTimeout, [this, fd] {
            connections_.at(fd)->deadline = Scheduler::invalidTimer;
            drop(fd);
        });
        connections_.emplace(fd, std::move(connection));
    }
}

void URLReceiver::readFrom(int fd) {
    Connection& connection = *connections_.at(fd);
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
        if (count > 0) {
            if (!connection.decoder.append({buffer, static_cast<std::size_t>(count)})) {
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
    // The connection leaves the loop before the handler runs: whatever the handler does, this
    // sender is answered exactly once.
    std::optional<std::vector<URL>> urls;
    if (wellFormed) {
        urls = connections_.at(fd)->decoder.finish();
    }
    const FileHandle sender = release(fd);
    if (urls && !urls->empty()) {
        handler_(*urls);
    }
    const auto status = urls ? URLDelivery::Status::delivered : URLDelivery::Status::refused;
    [[maybe_unused]] const ssize_t sent =
        ::send(sender.get(), &status, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
}

FileHandle URLReceiver::release(int fd) {
    auto found = connections_.find(fd);
    if (found == connections_.end()) {
        return FileHandle();
    }
    loop_->removeSource(found->second->source);
    if (found->second->deadline != Scheduler::invalidTimer) {
        loop_->cancel(found->second->deadline);
    }
    connections_.erase(found);
    return FileHandle(fd);
}

void URLReceiver::drop(int fd) {
    release(fd); // closes it
}

} // namespace scrivlet
