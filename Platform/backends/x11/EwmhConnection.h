#pragma once

#include "Platform/backends/x11/WindowRecords.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace scrivlet::x11 {

// A connection of our own to the X server, for what the window manager publishes about the
// other clients (EWMH): the stacking list, the active window, the current desktop, and each
// client's process, class, type, frame and state. Requests for many windows go out together
// and their replies are collected afterwards, so describing every client costs one round trip.
class EwmhConnection {
public:
    // Nothing, with `error` saying why, when the display cannot be opened.
    static std::unique_ptr<EwmhConnection> open(const char* displayName, std::string& error);
    ~EwmhConnection();
    EwmhConnection(const EwmhConnection&) = delete;
    EwmhConnection& operator=(const EwmhConnection&) = delete;

    // Readable when the server sent something; `drain` reads it.
    int fileDescriptor() const;
    bool hasFailed() const;

    // What the events read since the last call were about.
    struct Changes {
        bool clientList = false;
        bool activeWindow = false;
        bool currentDesktop = false;
        std::set<std::uint32_t> windows; // clients whose geometry or state changed
        bool any() const {
            return clientList || activeWindow || currentDesktop || !windows.empty();
        }
    };
    // Reads the events that arrived: from the socket, or (`queuedOnly`) only those a reply
    // already brought in, which would otherwise wait unseen while the descriptor stays quiet.
    Changes drain(bool queuedOnly);

    // Bottom to top, as _NET_CLIENT_LIST_STACKING lists them.
    std::vector<std::uint32_t> stacking();
    std::optional<std::uint32_t> activeWindow();
    std::optional<std::uint32_t> currentDesktop();
    // Reads each window's description; windows that went away meanwhile are left out. Every
    // window described is watched for moves and state changes from then on.
    std::vector<ClientWindow> describe(const std::vector<std::uint32_t>& windows);

    // The object path a GTK application's window carries on the session bus
    // (_GTK_WINDOW_OBJECT_PATH); nothing when it carries none.
    std::optional<std::string> gtkWindowObjectPath(std::uint32_t window);

    // The X screen's monitors (RandR 1.5); none when the server does not tell of them.
    std::vector<MonitorRecord> monitors();
    // The part of the X screen the window manager leaves to windows on the current desktop.
    std::optional<CGRect> workArea();

    // Asks the window manager to activate the window (as a pager would).
    void requestActivation(std::uint32_t window);

private:
    struct State;
    explicit EwmhConnection(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

} // namespace scrivlet::x11
