#pragma once

#include "Platform/base/FileHandle.h"
#include "Platform/system/ClientConnections.h"

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>

namespace scrivlet {

class DesktopControl;
class RunLoop;

// Lets a person drive the simulated desktop of a running program from a terminal: a Unix
// socket in the user's runtime folder that takes one command line per connection (see
// executeDesktopCommand) and answers with what the desktop shows. `scrivlet-desktop` is the
// client. Whatever arrives, the app goes on: a bad line gets an "error: " reply, a line over
// the size limit gets one and the connection closes, and a client that leaves before its line
// ends is dropped without running anything. Clients are kept as URL senders are (see
// ClientConnections): this user's processes only, idle ones dropped, and at the limit the
// longest-quiet one makes way, so that clients that never finish a line cannot lock the
// terminal out.
class DesktopControlServer {
public:
    // A line comes from a program in one write, or from a person typing it into a socket
    // tool: ten quiet seconds, or thirty in all, and the client is dropped.
    static constexpr double clientIdleTimeout = 10.0;
    static constexpr double clientTimeout = 30.0;
    static constexpr std::size_t maximumConnections = 32;

    static std::filesystem::path defaultSocketPath();

    static std::unique_ptr<DesktopControlServer> start(RunLoop& loop, DesktopControl& desktop,
                                                       const std::filesystem::path& socketPath,
                                                       std::error_code& error);
    ~DesktopControlServer();
    DesktopControlServer(const DesktopControlServer&) = delete;
    DesktopControlServer& operator=(const DesktopControlServer&) = delete;

private:
    DesktopControlServer(RunLoop& loop, DesktopControl& desktop, std::filesystem::path path,
                         FileHandle listener);
    void readRequest(int connection);
    void serveRequest(int connection);
    void failRequest(int connection);
    // Appends what has arrived, up to a whole line or just past the size limit; answers
    // false once the client has stopped sending (end of input or an error).
    static bool readAvailable(int connection, std::string& request);
    static void sendReply(int connection, const std::string& reply);
    void closeConnection(int connection);

    DesktopControl& desktop_;
    std::filesystem::path path_;
    FileHandle listener_;
    std::map<int, std::string> requests_;
    // Last, so that it goes first: its clients never call back into a half-destroyed server.
    std::unique_ptr<ClientConnections> clients_;
};

} // namespace scrivlet
