#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace scrivlet::atspi {

// The answer of a method that answers a number and a string, or why there is none.
struct NumberAndText {
    enum class Outcome {
        answered,
        notOffered, // no such service, object or method (or one that takes or answers other types)
        noAnswer    // it did not answer in time, or the call failed otherwise
    };
    Outcome outcome = Outcome::noAnswer;
    std::int32_t number = 0;
    std::string text;
};

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
    NumberAndText callNumberAndText(const std::string& service, const std::string& path,
                                    const std::string& interface, const std::string& method,
                                    std::uint32_t argument);
    // The names of the objects directly below `path`, read from its introspection data.
    std::vector<std::string> childObjects(const std::string& service, const std::string& path);

private:
    struct Connection;
    explicit SessionBus(std::unique_ptr<Connection> connection);
    std::unique_ptr<Connection> connection_;
};

// Whether a call's error (its D-Bus error name) says the method is not there to call, as
// opposed to not answered.
bool meansNotOffered(const std::string& errorName);

// The node names of an introspection document's direct children.
std::vector<std::string> introspectedChildren(const std::string& xml);

} // namespace scrivlet::atspi
