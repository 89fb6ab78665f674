#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace scrivlet::atspi {

// The few blocking calls this backend makes on the user's D-Bus session bus. Each waits at
// most a short timeout, and none is ever addressed to this process.
class SessionBus {
public:
    // Nothing when there is no session bus.
    static std::unique_ptr<SessionBus> connect();
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    bool nameHasOwner(const std::string& name);
    // Sets a boolean property through org.freedesktop.DBus.Properties.Set.
    bool setBooleanProperty(const std::string& service, const std::string& path,
                            const std::string& interface, const std::string& property, bool value);
    // Calls a method that takes one string and answers a boolean.
    std::optional<bool> callBoolean(const std::string& service, const std::string& path,
                                    const std::string& interface, const std::string& method,
                                    const std::string& argument);
    // Calls a method that takes one unsigned number and answers a number and a string.
    std::optional<std::pair<std::int32_t, std::string>>
    callNumberAndText(const std::string& service, const std::string& path,
                      const std::string& interface, const std::string& method,
                      std::uint32_t argument);
    // The names of the objects directly below `path`, read from its introspection data.
    std::vector<std::string> childObjects(const std::string& service, const std::string& path);

private:
    struct Connection;
    explicit SessionBus(std::unique_ptr<Connection> connection);
    std::unique_ptr<Connection> connection_;
};

// The node names of an introspection document's direct children.
std::vector<std::string> introspectedChildren(const std::string& xml);

} // namespace scrivlet::atspi
