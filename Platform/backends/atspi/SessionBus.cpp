#include "Platform/backends/atspi/SessionBus.h"

#include <algorithm>
#include <array>
#include <dbus/dbus.h>

namespace scrivlet::atspi {

namespace {

// The services asked here answer in well under this; a busy one must not hold the main loop.
constexpr int callTimeoutMilliseconds = 500;

struct MessageDeleter {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageDeleter>;

// Reads a reply's arguments, given as type and address pairs.
template <typename... TypesAndAddresses>
bool readReply(const Message& reply, TypesAndAddresses... typesAndAddresses) {
    DBusError error;
    dbus_error_init(&error);
    const bool read = dbus_message_get_args(reply.get(), &error, typesAndAddresses...,
                                            DBUS_TYPE_INVALID) != FALSE;
    dbus_error_free(&error);
    return read;
}

} // namespace

struct SessionBus::Connection {
    DBusConnection* bus = nullptr;
    ~Connection() {
        if (bus != nullptr) {
            dbus_connection_close(bus);
            dbus_connection_unref(bus);
        }
    }

    // The error the last call ended in; empty when it was answered.
    std::string lastError;

    Message call(Message request) {
        lastError.clear();
        if (!request) {
            lastError = DBUS_ERROR_NO_MEMORY;
            return nullptr;
        }
        DBusError error;
        dbus_error_init(&error);
        DBusMessage* reply = dbus_connection_send_with_reply_and_block(
            bus, request.get(), callTimeoutMilliseconds, &error);
        if (reply == nullptr) {
            lastError = dbus_error_is_set(&error) != FALSE ? error.name : DBUS_ERROR_FAILED;
        }
        dbus_error_free(&error);
        return Message(reply);
    }

    // A method that takes one argument of a basic type (`value` points to it); nothing when
    // the call failed.
    Message callWithOne(const std::string& service, const std::string& path,
                        const std::string& interface, const std::string& method, int type,
                        const void* value) {
        Message request(dbus_message_new_method_call(service.c_str(), path.c_str(),
                                                     interface.c_str(), method.c_str()));
        if (!request ||
            dbus_message_append_args(request.get(), type, value, DBUS_TYPE_INVALID) == FALSE) {
            lastError = DBUS_ERROR_NO_MEMORY;
            return nullptr;
        }
        return call(std::move(request));
    }
};

std::unique_ptr<SessionBus> SessionBus::connect() {
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* bus = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    dbus_error_free(&error);
    if (bus == nullptr) {
        return nullptr;
    }
    dbus_connection_set_exit_on_disconnect(bus, FALSE);
    auto connection = std::make_unique<Connection>();
    connection->bus = bus;
    return std::unique_ptr<SessionBus>(new SessionBus(std::move(connection)));
}

SessionBus::SessionBus(std::unique_ptr<Connection> connection)
    : connection_(std::move(connection)) {}

SessionBus::~SessionBus() = default;

bool SessionBus::nameHasOwner(const std::string& name) {
    DBusError error;
    dbus_error_init(&error);
    const bool owned = dbus_bus_name_has_owner(connection_->bus, name.c_str(), &error) != FALSE;
    dbus_error_free(&error);
    return owned;
}

bool SessionBus::setBooleanProperty(const std::string& service, const std::string& path,
                                    const std::string& interface, const std::string& property,
                                    bool value) {
    Message request(dbus_message_new_method_call(service.c_str(), path.c_str(),
                                                 "org.freedesktop.DBus.Properties", "Set"));
    if (!request) {
        return false;
    }
    DBusMessageIter arguments;
    DBusMessageIter variant;
    const char* interfaceName = interface.c_str();
    const char* propertyName = property.c_str();
    const dbus_bool_t flag = value ? TRUE : FALSE;
    dbus_message_iter_init_append(request.get(), &arguments);
    if (dbus_message_iter_append_basic(&arguments, DBUS_TYPE_STRING, &interfaceName) == FALSE ||
        dbus_message_iter_append_basic(&arguments, DBUS_TYPE_STRING, &propertyName) == FALSE ||
        dbus_message_iter_open_container(&arguments, DBUS_TYPE_VARIANT, DBUS_TYPE_BOOLEAN_AS_STRING,
                                         &variant) == FALSE) {
        return false;
    }
    if (dbus_message_iter_append_basic(&variant, DBUS_TYPE_BOOLEAN, &flag) == FALSE ||
        dbus_message_iter_close_container(&arguments, &variant) == FALSE) {
        return false;
    }
    const Message reply = connection_->call(std::move(request));
    return reply && dbus_message_get_type(reply.get()) == DBUS_MESSAGE_TYPE_METHOD_RETURN;
}

std::optional<bool> SessionBus::callBoolean(const std::string& service, const std::string& path,
                                            const std::string& interface, const std::string& method,
                                            const std::string& argument) {
    const char* text = argument.c_str();
    const Message reply =
        connection_->callWithOne(service, path, interface, method, DBUS_TYPE_STRING, &text);
    dbus_bool_t answer = FALSE;
    if (!reply || !readReply(reply, DBUS_TYPE_BOOLEAN, &answer)) {
        return std::nullopt;
    }
    return answer != FALSE;
}

NumberAndText SessionBus::callNumberAndText(const std::string& service, const std::string& path,
                                            const std::string& interface, const std::string& method,
                                            std::uint32_t argument) {
    const dbus_uint32_t number = argument;
    const Message reply =
        connection_->callWithOne(service, path, interface, method, DBUS_TYPE_UINT32, &number);
    NumberAndText answer;
    if (!reply) {
        answer.outcome = meansNotOffered(connection_->lastError)
                             ? NumberAndText::Outcome::notOffered
                             : NumberAndText::Outcome::noAnswer;
        return answer;
    }
    dbus_int32_t count = 0;
    const char* text = nullptr;
    if (!readReply(reply, DBUS_TYPE_INT32, &count, DBUS_TYPE_STRING, &text) || text == nullptr) {
        answer.outcome = NumberAndText::Outcome::notOffered; // another method of that name
        return answer;
    }
    answer.outcome = NumberAndText::Outcome::answered;
    answer.number = count;
    answer.text = text;
    return answer;
}

std::vector<std::string> SessionBus::childObjects(const std::string& service,
                                                  const std::string& path) {
    Message request(dbus_message_new_method_call(
        service.c_str(), path.c_str(), "org.freedesktop.DBus.Introspectable", "Introspect"));
    const Message reply = connection_->call(std::move(request));
    const char* xml = nullptr;
    if (!reply || !readReply(reply, DBUS_TYPE_STRING, &xml) || xml == nullptr) {
        return {};
    }
    return introspectedChildren(xml);
}

bool meansNotOffered(const std::string& errorName) {
    static constexpr std::array<const char*, 6> absent = {
        DBUS_ERROR_SERVICE_UNKNOWN,   DBUS_ERROR_NAME_HAS_NO_OWNER, DBUS_ERROR_UNKNOWN_OBJECT,
        DBUS_ERROR_UNKNOWN_INTERFACE, DBUS_ERROR_UNKNOWN_METHOD,    DBUS_ERROR_INVALID_ARGS};
    return std::find(absent.begin(), absent.end(), errorName) != absent.end();
}

std::vector<std::string> introspectedChildren(const std::string& xml) {
    // Child nodes are the <node name="..."/> elements after the document's own <node>.
    std::vector<std::string> names;
    const std::string marker = "<node name=\"";
    for (std::size_t at = xml.find(marker); at != std::string::npos;
         at = xml.find(marker, at + 1)) {
        const std::size_t start = at + marker.size();
        const std::size_t end = xml.find('"', start);
        if (end == std::string::npos) {
            break;
        }
        std::string name = xml.substr(start, end - start);
        if (!name.empty() && name.find('/') == std::string::npos) {
            names.push_back(std::move(name));
        }
    }
    return names;
}

} // namespace scrivlet::atspi
