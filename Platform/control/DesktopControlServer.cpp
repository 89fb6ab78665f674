#include "Platform/control/DesktopControlServer.h"

#include "Platform/RunLoop.h"
#include "Platform/UserDirectories.h"
#include "Platform/control/DesktopCommands.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t maximumRequestBytes = 4096;

std::error_code lastError() {
    return {errno, std::generic_category()};
}

} // namespace

fs::path DesktopControlServer::defaultSocketPath() {
    return UserDirectories::runtimeDirectory() / "desktop.sock";
}

std::unique_ptr<DesktopControlServer> DesktopControlServer::start(RunLoop& loop,
                                                                  DesktopControl& desktop,
                                                                  const fs::path& socketPath,
                                                                  std::error_code& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.native().size() >= sizeof address.sun_path) {
        error = std::make_error_code(std::errc::filename_too_long);
        return nullptr;
    }
    std::strcpy(address.sun_path, socketPath.c_str());
    if ((error = UserDirectories::ensureDirectory(socketPath.parent_path()))) {
        return nullptr;
    }
    // A socket left behind by a process that died is ours to replace; anything else is not.
    struct stat existing {};
    if (::lstat(socketPath.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            error = std::make_error_code(std::errc::file_exists);
            return nullptr;
        }
        ::unlink(socketPath.c_str());
    }
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener < 0) {
        error = lastError();
        return nullptr;
    }
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 8) != 0) {
        error = lastError();
        ::close(listener);
        return nullptr;
    }
    ::chmod(socketPath.c_str(), 0600);
    std::unique_ptr<DesktopControlServer> server(
        new DesktopControlServer(loop, desktop, socketPath, listener));
    server->listenerSource_ =
        loop.addFileDescriptorSource(listener, [raw = server.get()] { raw->acceptConnections(); });
    return server;
}

DesktopControlServer::DesktopControlServer(RunLoop& loop, DesktopControl& desktop, fs::path path,
                                           int listener)
    : loop_(loop), desktop_(desktop), path_(std::move(path)), listener_(listener) {}

DesktopControlServer::~DesktopControlServer() {
    while (!connections_.empty()) {
        closeConnection(connections_.begin()->first);
    }
    loop_.removeSource(listenerSource_);
    ::close(listener_);
    ::unlink(path_.c_str());
}

void DesktopControlServer::acceptConnections() {
    for (;;) {
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (connection < 0) {
            return; // EAGAIN: nothing more to accept
        }
        connections_[connection].source = loop_.addFileDescriptorSource(
            connection, [this, connection] { readRequest(connection); });
    }
}

void DesktopControlServer::readRequest(int connection) {
    Connection& state = connections_[connection];
    char buffer[512];
    for (;;) {
        const ssize_t count = ::read(connection, buffer, sizeof buffer);
        if (count > 0) {
            state.request.append(buffer, static_cast<std::size_t>(count));
            if (state.request.size() > maximumRequestBytes) {
                return closeConnection(connection);
            }
            continue;
        }
        if (count < 0 && errno == EAGAIN) {
            if (state.request.find('\n') == std::string::npos) {
                return; // wait for the rest of the line
            }
        } else if (count < 0) {
            return closeConnection(connection);
        }
        break; // end of input, or a complete line
    }
    std::string line = state.request.substr(0, state.request.find('\n'));
    const std::string reply = executeDesktopCommand(desktop_, line);
    // Replies are a few lines; the socket buffer takes them whole.
    [[maybe_unused]] const ssize_t written = ::write(connection, reply.data(), reply.size());
    closeConnection(connection);
}

void DesktopControlServer::closeConnection(int connection) {
    auto found = connections_.find(connection);
    if (found == connections_.end()) {
        return;
    }
    loop_.removeSource(found->second.source);
    ::close(connection);
    connections_.erase(found);
}

} // namespace scrivlet
