#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/FileHandle.h"
#include "Platform/base/RunLoop.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace scrivlet {

// The clients of a listening Unix socket served on a run loop, kept within bounds so that
// clients that misbehave cannot shut out those that do not:
// - only processes of this user are taken; others are closed at once (SO_PEERCRED);
// - a client that sends nothing for `idleTimeout`, or is still open after `lifetime`, is
//   dropped;
// - at most `maximumConnections` are open. A newcomer at the limit takes the place of the
//   client that has been quiet longest with nothing waiting to be read. When every open client
//   has something waiting, nobody is accepted until one of them ends: newcomers wait in the
//   listener's backlog (bounded by its listen()), never accepted only to be closed unanswered.
class SCRIVLET_PLATFORM_API ClientConnections {
public:
    struct Limits {
        std::size_t maximumConnections = 64;
        double idleTimeout = 1.0; // seconds without a byte from the client
        double lifetime = 5.0;    // seconds from its acceptance
    };
    struct Handlers {
        // The client's descriptor is readable (data, or the end of the client's writing). The
        // handler consumes what is there and may release() the client.
        std::function<void(int fd)> readable;
        // The client was dropped (idle, out of time, or made way for a newcomer); its
        // descriptor is closed right after this returns. The owner forgets the client here.
        std::function<void(int fd)> dropped;
        // Accepting failed with an exception (out of memory, say), whose text it gets (empty
        // when it has none); without this handler the exception goes on to the run loop.
        std::function<void(const std::string& what)> acceptFailed;
    };

    // Starts accepting on `loop`, whose owner thread it then belongs to. `listener` stays the
    // caller's and must outlive this object.
    ClientConnections(RunLoop& loop, int listener, Limits limits, Handlers handlers);
    // Closes every client and stops accepting.
    ~ClientConnections();
    ClientConnections(const ClientConnections&) = delete;
    ClientConnections& operator=(const ClientConnections&) = delete;

    // Stops watching the client and hands its descriptor over; its place is free again.
    FileHandle release(int fd);

    std::size_t size() const { return clients_.size(); }

private:
    struct Client {
        FileHandle connection;
        RunLoop::SourceID source = 0;
        Scheduler::TimerID timer = Scheduler::invalidTimer;
        double accepted = 0;
        double lastHeard = 0;
        std::uint64_t arrival = 0; // of clients heard from at the same instant, the first goes
    };

    void acceptWaiting();
    void acceptGuarded();
    void startAccepting();
    void stopAccepting();
    bool listenerHasWaiting() const;
    void add(FileHandle connection);
    void heardFrom(int fd);
    void schedule(int fd, Client& client);
    void deadlinePassed(int fd);
    bool makeWayForNewcomer();
    void drop(int fd);

    RunLoop& loop_;
    int listener_;
    Limits limits_;
    Handlers handlers_;
    RunLoop::SourceID listenerSource_ = 0;
    std::map<int, Client> clients_;
    std::uint64_t arrivals_ = 0;
};

} // namespace scrivlet
