#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/FileHandle.h"
#include "Platform/base/RunLoop.h"
#include "Platform/base/URL.h"
#include "Platform/system/ClientConnections.h"
#include "Platform/system/URLDelivery.h"

#include <cstddef>
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

    // A sender writes its whole delivery as soon as it is connected, so one that is quiet for
    // a second is stuck or hostile; one that is still sending after five (the opener's own
    // limit) is dropped too. Either way its place goes to the next sender.
    static constexpr double senderIdleTimeout = 1.0;
    static constexpr double senderTimeout = 5.0;
    // Senders served at once; a newcomer at the limit takes the place of the longest-quiet
    // one, or waits in the socket's backlog while all of them are sending.
    static constexpr std::size_t maximumConnections = 64;
    // Senders that wait, connected, for a place; past it their connect() is refused for the
    // moment and they try again (URLDelivery::deliver backs off).
    static constexpr int backlog = 128;

    // Takes the lock, replaces a socket left by a process that ended, and listens; senders
    // wait in the socket's queue until start(). Nothing, with `error` set, when another
    // process holds the lock (errc::device_or_resource_busy), when the runtime folder could
    // hold what others planted (UserDirectories::folderNotPrivate) or the socket cannot be made.
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
    URLReceiver(std::string scheme, FileHandle lock, FileHandle listener);
    void readFrom(int fd);
    void finish(int fd, bool wellFormed);
    void drop(int fd);

    std::string scheme_;
    FileHandle lock_;
    FileHandle listener_;
    Handler handler_;
    std::map<int, URLDelivery::Decoder> deliveries_;
    // Last, so that it goes first: its clients never call back into a half-destroyed receiver.
    std::unique_ptr<ClientConnections> senders_;
};

} // namespace scrivlet
