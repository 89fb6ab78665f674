// scrivlet-desktop COMMAND...: acts on the simulated desktop of the running app, as a person
// at the desktop would, and prints what it shows. Commands:
//   status | open-menu [N] | close-menu | choose TITLE | press KEY (e.g. Command-q)
#include "Platform/control/DesktopControlServer.h"

#include <cstring>
#include <iostream>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace scrivlet;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: scrivlet-desktop status | open-menu [N] | close-menu | "
                     "choose TITLE | press KEY\n";
        return 2;
    }
    std::string request = argv[1];
    for (int i = 2; i < argc; ++i) {
        request += std::string(" ") + argv[i];
    }
    request += "\n";

    const auto path = DesktopControlServer::defaultSocketPath();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::cerr << "scrivlet-desktop: Scrivlet is not running (no " << path.string() << ")\n";
        return 1;
    }
    if (::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
        std::cerr << "scrivlet-desktop: could not send the command\n";
        return 1;
    }
    ::shutdown(fd, SHUT_WR);
    std::string reply;
    char buffer[512];
    for (ssize_t count; (count = ::read(fd, buffer, sizeof buffer)) > 0;) {
        reply.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(fd);
    std::cout << reply;
    return reply.starts_with("error:") ? 1 : 0;
}
