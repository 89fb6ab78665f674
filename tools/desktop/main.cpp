// scrivlet-desktop COMMAND...: acts on the simulated desktop of the running app, as a person
// at the desktop would, and prints what it shows. Commands:
//   status | open-menu [N] | close-menu | choose TITLE | press KEY (e.g. Command-q) |
//   select-file PATH (in Finder) | set-status STATUS (in the app's panel)
// Exits 0 when the app did it, 1 when the app answered "error: ..." or did not answer, and
// 2 when the command line itself cannot be sent.
#include "Platform/base/FileHandle.h"
#include "Platform/control/DesktopControlServer.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

using namespace scrivlet;

namespace {

constexpr const char* usage =
    "usage: scrivlet-desktop status | open-menu [N] | close-menu | choose TITLE | press KEY |\n"
    "                        select-file PATH | set-status STATUS\n";

// The arguments as one request line; nothing when one holds a line break, which would
// smuggle a second line the app never reads.
std::optional<std::string> requestLine(int argc, char** argv) {
    std::string request = argv[1];
    for (int i = 2; i < argc; ++i) {
        request += std::string(" ") + argv[i];
    }
    if (request.find_first_of("\r\n") != std::string::npos) {
        return std::nullopt;
    }
    return request + "\n";
}

// A connected socket, or none.
FileHandle connectTo(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.native().size() >= sizeof address.sun_path) {
        return {};
    }
    std::strcpy(address.sun_path, path.c_str());
    FileHandle fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.isValid() &&
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return {};
    }
    // An app that hangs counts as one that does not answer.
    const timeval patience{10, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    return fd;
}

// A failed send needs no report of its own: it shows as a missing answer.
void sendAll(int fd, const std::string& text) {
    for (std::size_t sent = 0; sent < text.size();) {
        const ssize_t count = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return;
        }
        sent += static_cast<std::size_t>(count);
    }
}

std::string readReply(int fd) {
    std::string reply;
    char buffer[512];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return reply;
        }
        reply.append(buffer, static_cast<std::size_t>(count));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << usage;
        return 2;
    }
    const std::optional<std::string> request = requestLine(argc, argv);
    if (!request) {
        std::cerr << "scrivlet-desktop: a command is one line; no line breaks in arguments\n";
        return 2;
    }
    const auto path = DesktopControlServer::defaultSocketPath();
    FileHandle connection = connectTo(path);
    if (!connection.isValid()) {
        std::cerr << "scrivlet-desktop: Scrivlet is not running (no " << path.string() << ")\n";
        return 1;
    }
    sendAll(connection.get(), *request);
    ::shutdown(connection.get(), SHUT_WR);
    // Read even after a failed send: the app may have said why it stopped listening.
    const std::string reply = readReply(connection.get());
    connection.reset();
    // Every answer ends with a line break; anything short of that means the app went away.
    if (reply.empty() || !reply.ends_with('\n')) {
        std::cerr << "scrivlet-desktop: no answer from Scrivlet\n";
        return 1;
    }
    if (reply.starts_with("error:")) {
        std::cerr << reply;
        return 1;
    }
    std::cout << reply;
    return 0;
}
