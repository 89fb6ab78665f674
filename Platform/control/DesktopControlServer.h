#pragma once

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
// ends is dropped without running anything.
class DesktopControlServer {
public:
    static std::filesystem::path defaultSocketPath();

    static std::unique_ptr<DesktopControlServer> start(RunLoop& loop, DesktopControl& desktop,
                                                       const std::filesystem::path& socketPath,
                                                       std::error_code& error);
    ~DesktopControlServer();
    DesktopControlServer(const DesktopControlServer&) = delete;
    DesktopControlServer& operator=(const DesktopControlServer&) = delete;

private:
    DesktopControlServer(RunLoop& loop, DesktopControl& desktop, std::filesystem::path path,
                         int listener);
    void acceptConnections();
    void acceptWaitingClients();
    void readRequest(int connection);
    void serveRequest(int connection);
    void failRequest(int connection);
    // Appends what has arrived, up to a whole line or just past the size limit; answers
    // false once the client has stopped sending (end of input or an error).
    static bool readAvailable(int connection, std::string& request);
    static void sendReply(int connection, const std::string& reply);
    void closeConnection(int connection);

    RunLoop& loop_;
    DesktopControl& desktop_;
    std::filesystem::path path_;
    int listener_;
    std::uint64_t listenerSource_ = 0;
    struct Connection {
        std::uint64_t source = 0;
        std::string request;
    };
    std::map<int, Connection> connections_;
};

} // namespace scrivlet
