#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/RunLoop.h"
#include "Platform/base/URL.h"
#include "Platform/system/FileHandle.h"
#include "Platform/system/URLDelivery.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace scrivlet {

// The running application's end of URL delivery for one scheme (see URLDelivery). One
// process of the user holds it at a time, through a lock it keeps until it ends; the app
// claims it before any application code runs, so that a second copy learns at once that it
// should hand its URLs over instead.
class SCRIVLET_PLATFORM_API URLReceiver {
public:
    using Handler = std::function<void(const std::vector<URL>&)>;

    // A sender that neither finishes nor goes away within this time is dropped, so a stuck
    // process cannot hold a connection open for ever.
    static constexpr double senderTimeout = 5.0;
    static constexpr std::size_t maximumConnections = 64;

    // Takes the lock, replaces a socket left by a process that ended, and listens; senders
    // wait in the socket's queue until start(). Nothing, with `error` set, when another
    // process holds the lock (errc::device_or_resource_busy) or the socket cannot be made.
    static std::unique_ptr<URLReceiver> claim(const std::string& scheme, std::error_code& error);

    // Removes the socket, then gives the lock up.
    ~URLReceiver();
    URLReceiver(const URLReceiver&) = delete;
    URLReceiver& operator=(const URLReceiver&) = delete;

    // Accepts on `loop` (its owner thread). Each complete delivery reaches `handler` there,
    // and its sender is answered once `handler` has returned. A malformed delivery is
    // refused and `handler` never hears of it.
    void start(RunLoop& loop, Handler handler);

    const std::string& scheme() const { return scheme_; }

private:
    struct Connection;

    URLReceiver(std::string scheme, int lock, int listener);
    void acceptConnections();
    void readFrom(int fd);
    void finish(int fd, bool wellFormed);
    // Stops watching the connection and hands its descriptor over.
    FileHandle release(int fd);
    void drop(int fd);

    std::string scheme_;
    int lock_;
    int listener_;
    RunLoop* loop_ = nullptr;
    RunLoop::SourceID listenerSource_ = 0;
    Handler handler_;
    std::map<int, std::unique_ptr<Connection>> connections_;
};

} // namespace scrivlet
