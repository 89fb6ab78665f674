#include "Platform/control/DesktopControlServer.h"

#include "Platform/base/Log.h"
#include "Platform/base/RunLoop.h"
#include "Platform/control/DesktopCommands.h"
#include "Platform/system/UserDirectories.h"

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
constexpr int backlog = 16;

const Logger& controlLog() {
    static const Logger logger("com.scrivlet.Platform", "control");
    return logger;
}

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
    if (const auto refused = UserDirectories::ensurePrivateDirectory(socketPath.parent_path())) {
        error = refused->code;
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
    FileHandle listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!listener.isValid()) {
        error = lastError();
        return nullptr;
    }
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), backlog) != 0) {
        error = lastError();
        return nullptr;
    }
    ::chmod(socketPath.c_str(), 0600);
    return std::unique_ptr<DesktopControlServer>(
        new DesktopControlServer(loop, desktop, socketPath, std::move(listener)));
}

DesktopControlServer::DesktopControlServer(RunLoop& loop, DesktopControl& desktop, fs::path path,
                                           FileHandle listener)
    : desktop_(desktop), path_(std::move(path)), listener_(std::move(listener)) {
    ClientConnections::Limits limits;
    limits.maximumConnections = maximumConnections;
    limits.idleTimeout = clientIdleTimeout;
    limits.lifetime = clientTimeout;
    ClientConnections::Handlers handlers;
    handlers.readable = [this](int connection) { readRequest(connection); };
    handlers.dropped = [this](int connection) { requests_.erase(connection); };
    // An exception here would reach the run loop, which stops the process for it.
    handlers.acceptFailed = [](const std::string& what) {
        if (what.empty()) {
            controlLog().error("Desktop control: accepting a client failed");
        } else {
            controlLog().error("Desktop control: accepting a client failed: %{public}s", {what});
        }
    };
    clients_ =
        std::make_unique<ClientConnections>(loop, listener_.get(), limits, std::move(handlers));
}

DesktopControlServer::~DesktopControlServer() {
    clients_.reset();
    listener_.reset();
    ::unlink(path_.c_str());
}

void DesktopControlServer::readRequest(int connection) {
    // One request's failure is that request's: it gets an error line, the app goes on.
    try {
        serveRequest(connection);
    } catch (const std::exception& error) {
        controlLog().error("Desktop control: a request failed: %{public}s", {error.what()});
        failRequest(connection);
    } catch (...) {
        controlLog().error("Desktop control: a request failed");
        failRequest(connection);
    }
}

void DesktopControlServer::failRequest(int connection) {
    sendReply(connection, "error: the command failed inside the app\n");
    closeConnection(connection);
}

void DesktopControlServer::serveRequest(int connection) {
    std::string& request = requests_[connection];
    const bool open = readAvailable(connection, request);
    // A line break past the limit does not make an over-long line acceptable; no line break
    // at all (npos) is past every limit.
    const std::size_t newline = request.find('\n');
    if (newline <= maximumRequestBytes) {
        const std::string reply =
            executeDesktopCommand(desktop_, std::string_view(request).substr(0, newline));
        sendReply(connection, reply);
        return closeConnection(connection);
    }
    if (request.size() > maximumRequestBytes) {
        sendReply(connection, "error: a command is one line of at most " +
                                  std::to_string(maximumRequestBytes) + " bytes\n");
        return closeConnection(connection);
    }
    if (!open) {
        // The client left before finishing its line: there is nobody to answer, and half a
        // command is not run.
        closeConnection(connection);
    }
}

bool DesktopControlServer::readAvailable(int connection, std::string& request) {
    char buffer[512];
    while (request.find('\n') == std::string::npos && request.size() <= maximumRequestBytes) {
        const ssize_t count = ::read(connection, buffer, sizeof buffer);
        if (count > 0) {
            request.append(buffer, static_cast<std::size_t>(count));
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }
    return true;
}

void DesktopControlServer::sendReply(int connection, const std::string& reply) {
    // Replies are a few lines; the socket buffer takes them whole. MSG_NOSIGNAL: a client
    // that already left must not end the app with SIGPIPE.
    [[maybe_unused]] const ssize_t sent =
        ::send(connection, reply.data(), reply.size(), MSG_NOSIGNAL);
}

void DesktopControlServer::closeConnection(int connection) {
    requests_.erase(connection);
    clients_->release(connection); // closes it
}

} // namespace scrivlet
