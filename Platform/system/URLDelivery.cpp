#include "Platform/system/URLDelivery.h"

#include "Platform/base/FileHandle.h"
#include "Platform/system/UserDirectories.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace scrivlet {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

namespace URLDelivery {

namespace {

constexpr std::size_t lengthBytes = 4;

std::error_code lastError() {
    return {errno, std::generic_category()};
}

std::string lengthPrefix(std::size_t length) {
    std::string prefix(lengthBytes, '\0');
    for (std::size_t i = 0; i < lengthBytes; ++i) {
        prefix[i] = static_cast<char>((length >> (8 * (lengthBytes - 1 - i))) & 0xff);
    }
    return prefix;
}

std::size_t readLength(std::string_view bytes) {
    std::size_t length = 0;
    for (std::size_t i = 0; i < lengthBytes; ++i) {
        length = (length << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return length;
}

// Milliseconds left until `deadline`, for poll; 0 once it has passed.
int millisecondsUntil(SteadyClock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    return left > 0 ? static_cast<int>(std::min<long long>(left, 60'000)) : 0;
}

// Waits for `events` on `fd`; false when the deadline passes first.
bool waitFor(int fd, short events, SteadyClock::time_point deadline) {
    for (;;) {
        pollfd watched{fd, events, 0};
        const int timeout = millisecondsUntil(deadline);
        const int count = ::poll(&watched, 1, timeout);
        if (count > 0) {
            return true;
        }
        if ((count == 0 && timeout == 0) || (count < 0 && errno != EINTR)) {
            return false;
        }
    }
}

// One attempt. A full backlog answers EAGAIN at once: the receiver is busy, and the caller
// comes back later rather than block without a deadline.
std::error_code connectTo(const fs::path& path, FileHandle& socket) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.native().size() >= sizeof address.sun_path) {
        return std::make_error_code(std::errc::filename_too_long);
    }
    std::memcpy(address.sun_path, path.c_str(), path.native().size());
    socket.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.isValid()) {
        return lastError();
    }
    for (;;) {
        if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
            0) {
            return {};
        }
        if (errno == ENOENT || errno == ECONNREFUSED) {
            return std::make_error_code(std::errc::connection_refused);
        }
        if (errno != EINTR) {
            return lastError();
        }
    }
}

std::error_code sendAll(int fd, std::string_view data, SteadyClock::time_point deadline) {
    while (!data.empty()) {
        // MSG_NOSIGNAL: a receiver that went away is an error here, not a SIGPIPE.
        const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
        } else if (sent < 0 && errno != EAGAIN && errno != EINTR) {
            return errno == EPIPE || errno == ECONNRESET
                       ? std::make_error_code(std::errc::connection_aborted)
                       : lastError();
        } else if (!waitFor(fd, POLLOUT, deadline)) {
            return std::make_error_code(std::errc::timed_out);
        }
    }
    return {};
}

std::error_code awaitAnswer(int fd, SteadyClock::time_point deadline) {
    for (;;) {
        unsigned char status = 0;
        const ssize_t got = ::recv(fd, &status, 1, 0);
        if (got == 1) {
            return status == static_cast<unsigned char>(Status::delivered)
                       ? std::error_code()
                       : std::make_error_code(std::errc::protocol_error);
        }
        if (got == 0 || (got < 0 && errno == ECONNRESET)) {
            return std::make_error_code(std::errc::connection_aborted);
        }
        if (errno != EAGAIN && errno != EINTR) {
            return lastError();
        }
        if (!waitFor(fd, POLLIN, deadline)) {
            return std::make_error_code(std::errc::timed_out);
        }
    }
}

fs::path schemeFolder() {
    return UserDirectories::runtimeDirectory() / "url-schemes";
}

class DeliveryCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "scrivlet.url-delivery"; }
    std::string message(int) const override {
        return "the application has the URLs but did not confirm them in time";
    }
};

// The receiver was full, or closed the connection before answering: worth another attempt.
bool isWorthRetrying(std::error_code error) {
    return error == std::errc::resource_unavailable_try_again ||
           error == std::errc::connection_aborted;
}

// Pauses between attempts: short at first, since a receiver that makes way for a sender does
// so within one turn of its loop, then doubling up to a fifth of a second, so that a 5 s limit
// still holds some 25 attempts while a stuck receiver costs next to nothing. Each pause is
// drawn from its upper half, so that senders turned away together do not all return together.
class Backoff {
public:
    // False when the deadline leaves no room for another attempt.
    bool pauseBefore(SteadyClock::time_point deadline) {
        const auto left = deadline - SteadyClock::now();
        if (left <= SteadyClock::duration::zero()) {
            return false;
        }
        std::uniform_int_distribution<long long> spread(next_.count() / 2, next_.count());
        const std::chrono::microseconds pause(spread(random_));
        std::this_thread::sleep_for(std::min<SteadyClock::duration>(pause, left));
        next_ = std::min(next_ * 2, longest);
        return SteadyClock::now() < deadline;
    }

private:
    static constexpr std::chrono::microseconds longest{200'000};
    std::chrono::microseconds next_{5'000};
    std::minstd_rand random_{static_cast<std::minstd_rand::result_type>(
        SteadyClock::now().time_since_epoch().count() ^ ::getpid())};
};

std::error_code deliverOnce(const fs::path& path, const std::string& bytes,
                            SteadyClock::time_point deadline) {
    FileHandle socket;
    if (std::error_code error = connectTo(path, socket)) {
        return error;
    }
    if (!peerIsCurrentUser(socket.get())) {
        return std::make_error_code(std::errc::permission_denied);
    }
    if (std::error_code error = sendAll(socket.get(), bytes, deadline)) {
        return error;
    }
    ::shutdown(socket.get(), SHUT_WR);
    const std::error_code answer = awaitAnswer(socket.get(), deadline);
    // All of it is in the receiver's socket: only the answer is missing.
    return answer == std::errc::timed_out ? unconfirmed() : answer;
}

} // namespace

std::optional<std::string> normalizedScheme(std::string_view scheme) {
    if (scheme.empty() || !std::isalpha(static_cast<unsigned char>(scheme.front()))) {
        return std::nullopt;
    }
    std::string lower;
    for (const char c : scheme) {
        const auto byte = static_cast<unsigned char>(c);
        if (!std::isalnum(byte) && c != '+' && c != '-' && c != '.') {
            return std::nullopt;
        }
        lower += static_cast<char>(std::tolower(byte));
    }
    return lower;
}

fs::path socketPath(const std::string& scheme) {
    return schemeFolder() / (scheme + ".socket");
}

fs::path receiverLockPath(const std::string& scheme) {
    return schemeFolder() / (scheme + ".lock");
}

std::optional<std::string> encode(const std::vector<URL>& urls) {
    if (urls.size() > maximumURLCount) {
        return std::nullopt;
    }
    std::string bytes;
    for (const URL& url : urls) {
        const std::string& text = url.absoluteString();
        if (text.size() > maximumURLLength) {
            return std::nullopt;
        }
        bytes += lengthPrefix(text.size());
        bytes += text;
    }
    if (bytes.size() > maximumDeliveryBytes) {
        return std::nullopt;
    }
    return bytes;
}

bool Decoder::append(std::string_view bytes) {
    received_ += bytes.size();
    broken_ = broken_ || received_ > maximumDeliveryBytes;
    pending_.append(bytes);
    while (!broken_ && pending_.size() >= lengthBytes) {
        const std::size_t length = readLength(pending_);
        if (length > maximumURLLength || texts_.size() >= maximumURLCount) {
            broken_ = true;
        } else if (pending_.size() < lengthBytes + length) {
            break;
        } else {
            texts_.push_back(pending_.substr(lengthBytes, length));
            pending_.erase(0, lengthBytes + length);
        }
    }
    if (broken_) {
        pending_.clear();
    }
    return !broken_;
}

std::optional<std::vector<URL>> Decoder::finish() const {
    if (broken_ || !pending_.empty()) {
        return std::nullopt;
    }
    std::vector<URL> urls;
    for (const std::string& text : texts_) {
        std::optional<URL> url = URL::fromString(text);
        if (!url) {
            return std::nullopt;
        }
        urls.push_back(std::move(*url));
    }
    return urls;
}

bool peerIsCurrentUser(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
           size == sizeof credentials && credentials.uid == ::getuid();
}

std::error_code unconfirmed() {
    static const DeliveryCategory category;
    return {1, category};
}

std::error_code deliver(std::string_view scheme, const std::vector<URL>& urls,
                        std::chrono::milliseconds timeout) {
    const SteadyClock::time_point deadline = SteadyClock::now() + timeout;
    const std::optional<std::string> name = normalizedScheme(scheme);
    const std::optional<std::string> bytes = encode(urls);
    if (!name || !bytes) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    if (const auto refused = UserDirectories::checkPrivateDirectory(schemeFolder())) {
        return refused->code == std::errc::no_such_file_or_directory
                   ? std::make_error_code(std::errc::connection_refused)
                   : refused->code;
    }
    const fs::path path = socketPath(*name);
    Backoff backoff;
    for (;;) {
        const std::error_code error = deliverOnce(path, *bytes, deadline);
        if (!isWorthRetrying(error)) {
            return error;
        }
        if (!backoff.pauseBefore(deadline)) {
            return error == std::errc::connection_aborted
                       ? error
                       : std::make_error_code(std::errc::timed_out);
        }
    }
}

} // namespace URLDelivery

} // namespace scrivlet
