#include "Platform/system/ClientConnections.h"

#include "Platform/system/URLDelivery.h"

#include <cerrno>
#include <exception>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace scrivlet {

namespace {

// Nothing to read and not the end either: a client that is only holding its place.
bool hasNothingWaiting(int fd) {
    char byte = 0;
    return ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) < 0 &&
           (errno == EAGAIN || errno == EWOULDBLOCK);
}

} // namespace

ClientConnections::ClientConnections(RunLoop& loop, int listener, Limits limits, Handlers handlers)
    : loop_(loop), listener_(listener), limits_(limits), handlers_(std::move(handlers)) {
    startAccepting();
}

ClientConnections::~ClientConnections() {
    stopAccepting();
    for (const auto& [fd, client] : clients_) {
        loop_.removeSource(client.source);
        if (client.timer != Scheduler::invalidTimer) {
            loop_.cancel(client.timer);
        }
    }
    // The connections close with the table, each after the loop stopped watching it.
}

void ClientConnections::startAccepting() {
    if (listenerSource_ == 0) {
        listenerSource_ = loop_.addFileDescriptorSource(listener_, [this] { acceptGuarded(); });
    }
}

void ClientConnections::stopAccepting() {
    if (listenerSource_ != 0) {
        loop_.removeSource(listenerSource_);
        listenerSource_ = 0;
    }
}

void ClientConnections::acceptGuarded() {
    if (!handlers_.acceptFailed) {
        return acceptWaiting();
    }
    try {
        acceptWaiting();
    } catch (const std::exception& error) {
        handlers_.acceptFailed(error.what());
    } catch (...) {
        handlers_.acceptFailed("");
    }
}

bool ClientConnections::listenerHasWaiting() const {
    pollfd listener{listener_, POLLIN, 0};
    return ::poll(&listener, 1, 0) > 0 && (listener.revents & POLLIN) != 0;
}

void ClientConnections::acceptWaiting() {
    for (;;) {
        if (clients_.size() >= limits_.maximumConnections) {
            if (!listenerHasWaiting()) {
                return;
            }
            if (!makeWayForNewcomer()) {
                // Every client has something to be read: they are served within this turn of
                // the loop, and the first to end lets the next newcomer in.
                stopAccepting();
                return;
            }
        }
        FileHandle accepted(::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!accepted.isValid()) {
            return; // EAGAIN: nobody else waits
        }
        if (!URLDelivery::peerIsCurrentUser(accepted.get())) {
            continue;
        }
        add(std::move(accepted));
    }
}

void ClientConnections::add(FileHandle connection) {
    const int fd = connection.get();
    const double now = loop_.monotonicNow();
    Client& client = clients_[fd];
    client.connection = std::move(connection);
    client.accepted = now;
    client.lastHeard = now;
    client.arrival = ++arrivals_;
    client.source = loop_.addFileDescriptorSource(fd, [this, fd] { heardFrom(fd); });
    schedule(fd, client);
}

void ClientConnections::heardFrom(int fd) {
    const auto found = clients_.find(fd);
    if (found == clients_.end()) {
        return;
    }
    found->second.lastHeard = loop_.monotonicNow();
    handlers_.readable(fd); // may release the client: nothing of it is used after this
}

// One timer per client, due at the earlier of its two deadlines; bytes that arrive in between
// only move `lastHeard`, and the timer looks again when it fires.
void ClientConnections::schedule(int fd, Client& client) {
    const double due =
        std::min(client.lastHeard + limits_.idleTimeout, client.accepted + limits_.lifetime);
    const double delay = std::max(0.0, due - loop_.monotonicNow());
    client.timer = loop_.scheduleAfter(delay, [this, fd] { deadlinePassed(fd); });
}

void ClientConnections::deadlinePassed(int fd) {
    auto found = clients_.find(fd);
    if (found == clients_.end()) {
        return;
    }
    found->second.timer = Scheduler::invalidTimer;
    if (!hasNothingWaiting(fd)) {
        // What the client sent while the loop was busy elsewhere is taken before anything
        // else: a whole delivery is served, not dropped for the loop's delay.
        heardFrom(fd);
        found = clients_.find(fd);
        if (found == clients_.end()) {
            return;
        }
    }
    Client& client = found->second;
    const double now = loop_.monotonicNow();
    if (now >= client.accepted + limits_.lifetime ||
        now >= client.lastHeard + limits_.idleTimeout) {
        return drop(fd);
    }
    schedule(fd, client);
}

bool ClientConnections::makeWayForNewcomer() {
    const auto quieter = [](const Client& a, const Client& b) {
        return a.lastHeard < b.lastHeard || (a.lastHeard == b.lastHeard && a.arrival < b.arrival);
    };
    auto quietest = clients_.end();
    for (auto it = clients_.begin(); it != clients_.end(); ++it) {
        if ((quietest == clients_.end() || quieter(it->second, quietest->second)) &&
            hasNothingWaiting(it->first)) {
            quietest = it;
        }
    }
    if (quietest == clients_.end()) {
        return false;
    }
    drop(quietest->first);
    return true;
}

FileHandle ClientConnections::release(int fd) {
    const auto found = clients_.find(fd);
    if (found == clients_.end()) {
        return FileHandle();
    }
    loop_.removeSource(found->second.source);
    if (found->second.timer != Scheduler::invalidTimer) {
        loop_.cancel(found->second.timer);
    }
    FileHandle connection = std::move(found->second.connection);
    clients_.erase(found);
    // Newcomers left waiting in the backlog may come in now.
    startAccepting();
    return connection;
}

void ClientConnections::drop(int fd) {
    FileHandle closing = release(fd);
    if (handlers_.dropped) {
        handlers_.dropped(fd);
    }
}

} // namespace scrivlet
