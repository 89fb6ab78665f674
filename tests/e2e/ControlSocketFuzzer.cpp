// Throws random requests at the control socket of a running app, plays an app that never
// answers, or plays clients that connect and never send, for control-socket-fuzz.sh and
// url-delivery.sh.
//   control-socket-fuzzer send SOCKET COUNT SEED   one connection per request; exits 1 when
//                                                  the socket stops taking connections
//   control-socket-fuzzer mute SOCKET              takes one request and closes unanswered
//   control-socket-fuzzer idle (SOCKET COUNT)...   keeps COUNT silent connections open to each
//                                                  SOCKET, opening a new one whenever one is
//                                                  closed; says "holding" once they are all
//                                                  open, and on SIGTERM how often it came back
#include "Platform/control/InputText.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

sockaddr_un addressOf(const char* path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path, sizeof address.sun_path - 1);
    return address;
}

int connectTo(const char* path) {
    const sockaddr_un address = addressOf(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 &&
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    // A hung app must fail the run, not stall it.
    const timeval patience{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    return fd;
}

// Random bytes, now and then after a real verb, now and then past the app's size limit, half
// of them ending in a line break.
std::string randomRequest(std::mt19937& random) {
    static const char* const starts[] = {"", "", "", "status ", "open-menu ", "choose ", "press "};
    std::string request = starts[random() % std::size(starts)];
    const std::size_t length = random() % 10 == 0 ? random() % 6000 : random() % 600;
    for (std::size_t i = 0; i < length; ++i) {
        request += static_cast<char>(random() % 256);
    }
    if (random() % 2 == 0) {
        request += '\n';
    }
    return request;
}

std::string readAll(int fd) {
    std::string reply;
    char buffer[512];
    for (ssize_t count; (count = ::read(fd, buffer, sizeof buffer)) > 0;) {
        reply.append(buffer, static_cast<std::size_t>(count));
    }
    return reply;
}

int send(const char* path, long long count, unsigned seed) {
    std::mt19937 random(seed);
    long long errors = 0, answers = 0, silent = 0;
    for (long long i = 0; i < count; ++i) {
        const std::string request = randomRequest(random);
        const int fd = connectTo(path);
        if (fd < 0) {
            std::printf("request %lld: cannot connect: %s\n", i, std::strerror(errno));
            return 1;
        }
        // Some clients leave at once; the rest wait for whatever comes back.
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        if (i % 4 != 0) {
            ::shutdown(fd, SHUT_WR);
            const std::string reply = readAll(fd);
            (reply.empty() ? silent : reply.starts_with("error: ") ? errors : answers) += 1;
        }
        ::close(fd);
    }
    std::printf("sent %lld random requests: %lld error replies, %lld other replies, "
                "%lld unanswered, %lld left at once\n",
                count, errors, answers, silent, count - errors - answers - silent);
    return 0;
}

int mute(const char* path) {
    const sockaddr_un address = addressOf(path);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0 ||
        ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0) {
        std::perror("mute");
        return 1;
    }
    const int connection = ::accept(listener, nullptr, nullptr);
    char byte = 0;
    while (connection >= 0 && ::read(connection, &byte, 1) == 1 && byte != '\n') {
    }
    ::close(connection);
    ::close(listener);
    ::unlink(path);
    return 0;
}

volatile std::sig_atomic_t stopped = 0;

void stop(int) {
    stopped = 1;
}

int idle(const std::vector<std::pair<const char*, long long>>& sockets) {
    struct sigaction stopping {};
    stopping.sa_handler = stop; // no SA_RESTART: poll returns at once
    ::sigaction(SIGTERM, &stopping, nullptr);
    std::vector<pollfd> watched;
    std::vector<const char*> targets;
    for (const auto& [path, count] : sockets) {
        for (long long i = 0; i < count; ++i) {
            watched.push_back({connectTo(path), POLLIN, 0});
            targets.push_back(path);
        }
    }
    std::printf("holding %zu\n", watched.size());
    std::fflush(stdout);
    long long reconnects = 0;
    while (stopped == 0) {
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            continue; // EINTR: stopped, most likely
        }
        for (std::size_t i = 0; i < watched.size(); ++i) {
            // The app closed it (or it never opened): come straight back, as a pest would.
            if (watched[i].fd < 0 || watched[i].revents != 0) {
                ::close(watched[i].fd);
                watched[i].fd = connectTo(targets[i]);
                ++reconnects;
            }
        }
    }
    std::printf("came back %lld times\n", reconnects);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    using scrivlet::parseWholeNumber;
    const auto count = argc == 5 ? parseWholeNumber(argv[3], 1, 1'000'000) : std::nullopt;
    const auto seed = argc == 5 ? parseWholeNumber(argv[4], 0, 0xffffffff) : std::nullopt;
    if (count && seed && std::strcmp(argv[1], "send") == 0) {
        return send(argv[2], *count, static_cast<unsigned>(*seed));
    }
    if (argc == 3 && std::strcmp(argv[1], "mute") == 0) {
        return mute(argv[2]);
    }
    if (argc >= 4 && argc % 2 == 0 && std::strcmp(argv[1], "idle") == 0) {
        std::vector<std::pair<const char*, long long>> sockets;
        for (int i = 2; i + 1 < argc; i += 2) {
            if (const auto clients = parseWholeNumber(argv[i + 1], 1, 10'000)) {
                sockets.emplace_back(argv[i], *clients);
            }
        }
        if (static_cast<int>(sockets.size()) == (argc - 2) / 2) {
            return idle(sockets);
        }
    }
    std::fprintf(stderr, "usage: control-socket-fuzzer send SOCKET COUNT SEED | mute SOCKET |\n"
                         "                             idle SOCKET COUNT [SOCKET COUNT]...\n");
    return 2;
}
