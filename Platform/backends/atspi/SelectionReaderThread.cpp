#include "Platform/backends/atspi/SelectionReaderThread.h"

#include "Platform/backends/atspi/SessionBus.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <unistd.h>

namespace scrivlet::atspi {

namespace {

// Hands a message over whole: its address goes through the pipe, and with it its ownership.
// A pointer's bytes are far fewer than a pipe writes at once, so no reader sees half of one.
template <typename T> void handOver(int fd, std::unique_ptr<T> message) {
    void* address = message.release();
    ssize_t written = 0;
    do {
        written = ::write(fd, static_cast<const void*>(&address), sizeof address);
    } while (written < 0 && errno == EINTR);
    if (written != static_cast<ssize_t>(sizeof address)) {
        delete static_cast<T*>(address);
    }
}

// The next message, waiting for one; nothing at the end of the pipe. A null message says stop.
template <typename T> std::optional<std::unique_ptr<T>> takeOver(int fd) {
    void* address = nullptr;
    ssize_t got = 0;
    do {
        got = ::read(fd, static_cast<void*>(&address), sizeof address);
    } while (got < 0 && errno == EINTR);
    if (got != static_cast<ssize_t>(sizeof address)) {
        return std::nullopt;
    }
    return std::unique_ptr<T>(static_cast<T*>(address));
}

bool readable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0;
}

// Later requests replace earlier ones not yet begun; what those noted of changes adds up.
void merge(LookRequest& into, const LookRequest& later) {
    const bool viewStale = into.viewStale || later.viewStale;
    const bool itemsChanged = into.itemsChanged || later.itemsChanged;
    into = later;
    into.viewStale = viewStale;
    into.itemsChanged = itemsChanged;
}

void serve(int requests, int news, int callTimeoutMilliseconds) {
    std::unique_ptr<ViewReader> reader;
    for (;;) {
        std::optional<std::unique_ptr<LookRequest>> first = takeOver<LookRequest>(requests);
        if (!first || !*first) {
            return;
        }
        LookRequest request = **first;
        while (readable(requests)) {
            std::optional<std::unique_ptr<LookRequest>> later = takeOver<LookRequest>(requests);
            if (!later || !*later) {
                return;
            }
            merge(request, **later);
        }
        if (!reader) {
            // The accessibility bus may come later than the app: tried again for each look.
            if (std::unique_ptr<AccessibleBus> bus =
                    AccessibleBus::connect(callTimeoutMilliseconds)) {
                reader = std::make_unique<ViewReader>(std::move(bus), SessionBus::connect());
            }
        }
        const auto send = [news](LookNews item) {
            handOver(news, std::make_unique<LookNews>(std::move(item)));
        };
        if (!reader) {
            LookNews none;
            none.generation = request.generation;
            send(std::move(none));
            continue;
        }
        reader->look(request, send, [requests] { return readable(requests); });
    }
}

} // namespace

SelectionReaderThread::SelectionReaderThread(RunLoop& loop, OnNews onNews,
                                             int callTimeoutMilliseconds)
    : loop_(loop), onNews_(std::move(onNews)) {
    if (::pipe2(requestPipe_, O_CLOEXEC) != 0 || ::pipe2(newsPipe_, O_CLOEXEC) != 0) {
        return;
    }
    ::fcntl(newsPipe_[0], F_SETFL, O_NONBLOCK);
    newsSource_ = loop_.addFileDescriptorSource(newsPipe_[0], [this] { takeNews(); });
    thread_ = std::thread(serve, requestPipe_[0], newsPipe_[1], callTimeoutMilliseconds);
}

SelectionReaderThread::~SelectionReaderThread() {
    if (thread_.joinable()) {
        handOver(requestPipe_[1], std::unique_ptr<LookRequest>());
        thread_.join();
        loop_.removeSource(newsSource_);
        // News the run loop did not take is dropped.
        while (std::optional<std::unique_ptr<LookNews>> left = takeOver<LookNews>(newsPipe_[0])) {
        }
    }
    for (const int fd : {requestPipe_[0], requestPipe_[1], newsPipe_[0], newsPipe_[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void SelectionReaderThread::ask(const LookRequest& request) {
    if (thread_.joinable()) {
        handOver(requestPipe_[1], std::make_unique<LookRequest>(request));
    }
}

void SelectionReaderThread::takeNews() {
    while (std::optional<std::unique_ptr<LookNews>> news = takeOver<LookNews>(newsPipe_[0])) {
        if (*news) {
            const OnNews onNews = onNews_;
            onNews(**news);
        }
    }
}

} // namespace scrivlet::atspi
