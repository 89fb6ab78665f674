#include "tests/support/OtherUser.h"

#include "tests/support/ChildProcess.h"

#include <cstring>
#include <functional>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace scrivlet {

namespace {

sockaddr_un addressOf(const std::filesystem::path& socket) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
    return address;
}

bool sendDescriptor(int channel, int fd) {
    char byte = 0;
    iovec data{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    return ::sendmsg(channel, &message, 0) == 1;
}

int receiveDescriptor(int channel) {
    char byte = 0;
    iovec data{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    if (::recvmsg(channel, &message, MSG_CMSG_CLOEXEC) != 1) {
        return -1;
    }
    const cmsghdr* header = CMSG_FIRSTHDR(&message);
    if (header == nullptr || header->cmsg_type != SCM_RIGHTS) {
        return -1;
    }
    int fd = -1;
    std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
    return fd;
}

// Runs `make` as the other user and hands its socket back. Only the effective user changes:
// the kernel credits a socket to the effective user, while the real and saved ones stay root,
// which keeps the permitted capabilities; the file-system user returns to root, so the child
// still reaches a socket that only root may open.
int socketAsOtherUser(const std::function<int()>& make) {
    int channel[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0) {
        return -1;
    }
    const pid_t child = runInChild([&] {
        ::close(channel[0]);
        if (::setresuid(0, otherUser, 0) != 0) {
            return 1;
        }
        ::setfsuid(0);
        const int fd = make();
        return fd >= 0 && sendDescriptor(channel[1], fd) ? 0 : 1;
    });
    ::close(channel[1]);
    const int fd = receiveDescriptor(channel[0]);
    ::close(channel[0]);
    waitForChild(child);
    return fd;
}

} // namespace

int connectAsOtherUser(const std::filesystem::path& socket) {
    return socketAsOtherUser([&] {
        const sockaddr_un address = addressOf(socket);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd >= 0 &&
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    });
}

int listenAsOtherUser(const std::filesystem::path& socket) {
    return socketAsOtherUser([&] {
        const sockaddr_un address = addressOf(socket);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd >= 0 &&
            (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
             ::listen(fd, 8) != 0)) {
            ::close(fd);
            return -1;
        }
        return fd;
    });
}

} // namespace scrivlet
