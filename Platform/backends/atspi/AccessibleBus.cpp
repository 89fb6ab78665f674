#include "Platform/backends/atspi/AccessibleBus.h"

#include <cstdlib>
#include <dbus/dbus.h>
#include <deque>
#include <string_view>
#include <utility>

namespace scrivlet::atspi {

namespace {

constexpr const char* accessibleInterface = "org.a11y.atspi.Accessible";

struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

struct PendingUnref {
    void operator()(DBusPendingCall* call) const {
        dbus_pending_call_cancel(call);
        dbus_pending_call_unref(call);
    }
};
using Pending = std::unique_ptr<DBusPendingCall, PendingUnref>;

Message methodCall(const ObjectRef& object, const char* method) {
    return Message(dbus_message_new_method_call(object.bus.c_str(), object.path.c_str(),
                                                accessibleInterface, method));
}

Message propertyGet(const ObjectRef& object, const char* property) {
    Message message(dbus_message_new_method_call(object.bus.c_str(), object.path.c_str(),
                                                 "org.freedesktop.DBus.Properties", "Get"));
    const char* interface = accessibleInterface;
    if (message) {
        dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING,
                                 &property, DBUS_TYPE_INVALID);
    }
    return message;
}

// The reply's first argument when it is a method return of that signature.
std::optional<DBusMessageIter> argumentOf(DBusMessage* reply, std::string_view signature) {
    if (reply == nullptr || dbus_message_get_type(reply) != DBUS_MESSAGE_TYPE_METHOD_RETURN ||
        std::string_view(dbus_message_get_signature(reply)) != signature) {
        return std::nullopt;
    }
    DBusMessageIter iterator;
    dbus_message_iter_init(reply, &iterator);
    return iterator;
}

// The value inside a property's variant when it has the given type.
std::optional<DBusMessageIter> variantOf(DBusMessage* reply, int type) {
    std::optional<DBusMessageIter> iterator = argumentOf(reply, "v");
    if (!iterator) {
        return std::nullopt;
    }
    DBusMessageIter value;
    dbus_message_iter_recurse(&*iterator, &value);
    if (dbus_message_iter_get_arg_type(&value) != type) {
        return std::nullopt;
    }
    return value;
}

ObjectRef objectIn(DBusMessageIter& structure) {
    DBusMessageIter pair;
    dbus_message_iter_recurse(&structure, &pair);
    const char* bus = nullptr;
    const char* path = nullptr;
    dbus_message_iter_get_basic(&pair, &bus);
    dbus_message_iter_next(&pair);
    dbus_message_iter_get_basic(&pair, &path);
    return {bus != nullptr ? bus : "", path != nullptr ? path : ""};
}

std::optional<StateBits> statesIn(DBusMessage* reply) {
    std::optional<DBusMessageIter> iterator = argumentOf(reply, "au");
    if (!iterator) {
        return std::nullopt;
    }
    DBusMessageIter array;
    dbus_message_iter_recurse(&*iterator, &array);
    StateBits bits;
    while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_UINT32) {
        dbus_uint32_t word = 0;
        dbus_message_iter_get_basic(&array, &word);
        bits.words.push_back(word);
        dbus_message_iter_next(&array);
    }
    return bits;
}

template <typename T> std::optional<T> basicIn(DBusMessage* reply, std::string_view signature) {
    std::optional<DBusMessageIter> iterator = argumentOf(reply, signature);
    if (!iterator) {
        return std::nullopt;
    }
    T value{};
    dbus_message_iter_get_basic(&*iterator, &value);
    return value;
}

std::optional<std::string> stringProperty(DBusMessage* reply) {
    std::optional<DBusMessageIter> value = variantOf(reply, DBUS_TYPE_STRING);
    if (!value) {
        return std::nullopt;
    }
    const char* text = nullptr;
    dbus_message_iter_get_basic(&*value, &text);
    return std::string(text != nullptr ? text : "");
}

std::optional<std::int32_t> int32Property(DBusMessage* reply) {
    std::optional<DBusMessageIter> value = variantOf(reply, DBUS_TYPE_INT32);
    if (!value) {
        return std::nullopt;
    }
    dbus_int32_t number = 0;
    dbus_message_iter_get_basic(&*value, &number);
    return number;
}

std::optional<ObjectRef> objectProperty(DBusMessage* reply) {
    std::optional<DBusMessageIter> value = variantOf(reply, DBUS_TYPE_STRUCT);
    if (!value) {
        return std::nullopt;
    }
    return objectIn(*value);
}

// AT-SPI's address for its bus: the environment's, else the one the session's launcher tells.
std::optional<std::string> accessibilityBusAddress(int timeoutMilliseconds) {
    if (const char* address = std::getenv("AT_SPI_BUS_ADDRESS");
        address != nullptr && *address != '\0') {
        return address;
    }
    DBusConnection* session = dbus_bus_get_private(DBUS_BUS_SESSION, nullptr);
    if (session == nullptr) {
        return std::nullopt;
    }
    dbus_connection_set_exit_on_disconnect(session, FALSE);
    std::optional<std::string> address;
    const Message request(dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus",
                                                       "org.a11y.Bus", "GetAddress"));
    if (request) {
        const Message reply(dbus_connection_send_with_reply_and_block(
            session, request.get(), timeoutMilliseconds, nullptr));
        if (const std::optional<const char*> text = basicIn<const char*>(reply.get(), "s")) {
            address = *text;
        }
    }
    dbus_connection_close(session);
    dbus_connection_unref(session);
    return address;
}

} // namespace

struct AccessibleBus::Connection {
    DBusConnection* bus = nullptr;
    int timeoutMilliseconds = 0;

    ~Connection() {
        if (bus != nullptr) {
            dbus_connection_close(bus);
            dbus_connection_unref(bus);
        }
    }

    Pending send(const Message& message) const {
        DBusPendingCall* call = nullptr;
        if (!message || dbus_connection_send_with_reply(bus, message.get(), &call,
                                                        timeoutMilliseconds) == FALSE) {
            return nullptr;
        }
        return Pending(call);
    }

    static Message wait(const Pending& call) {
        if (!call) {
            return nullptr;
        }
        dbus_pending_call_block(call.get());
        return Message(dbus_pending_call_steal_reply(call.get()));
    }

    // All questions sent first, then every answer waited for: one round trip for the lot.
    std::vector<Message> askAll(const std::vector<Message>& questions) const {
        std::vector<Pending> calls;
        calls.reserve(questions.size());
        for (const Message& question : questions) {
            calls.push_back(send(question));
        }
        std::vector<Message> replies;
        replies.reserve(calls.size());
        for (const Pending& call : calls) {
            replies.push_back(wait(call));
        }
        return replies;
    }

    Message ask(const Message& question) const { return wait(send(question)); }

    template <typename T>
    std::vector<std::optional<T>>
    askEach(const std::vector<ObjectRef>& objects,
            const std::function<Message(const ObjectRef&)>& question,
            const std::function<std::optional<T>(DBusMessage*)>& answer) const {
        std::vector<Message> questions;
        questions.reserve(objects.size());
        for (const ObjectRef& object : objects) {
            questions.push_back(question(object));
        }
        std::vector<std::optional<T>> answers;
        for (const Message& reply : askAll(questions)) {
            answers.push_back(answer(reply.get()));
        }
        return answers;
    }
};

std::unique_ptr<AccessibleBus> AccessibleBus::connect(int timeoutMilliseconds) {
    const std::optional<std::string> address = accessibilityBusAddress(timeoutMilliseconds);
    if (!address) {
        return nullptr;
    }
    DBusConnection* bus = dbus_connection_open_private(address->c_str(), nullptr);
    if (bus == nullptr) {
        return nullptr;
    }
    dbus_connection_set_exit_on_disconnect(bus, FALSE);
    auto connection = std::make_unique<Connection>();
    connection->bus = bus;
    connection->timeoutMilliseconds = timeoutMilliseconds;
    if (dbus_bus_register(bus, nullptr) == FALSE) {
        return nullptr;
    }
    return std::unique_ptr<AccessibleBus>(new AccessibleBus(std::move(connection)));
}

AccessibleBus::AccessibleBus(std::unique_ptr<Connection> connection)
    : connection_(std::move(connection)) {}

AccessibleBus::~AccessibleBus() = default;

std::optional<std::vector<ObjectRef>> AccessibleBus::children(const ObjectRef& object) {
    const Message reply = connection_->ask(methodCall(object, "GetChildren"));
    std::optional<DBusMessageIter> iterator = argumentOf(reply.get(), "a(so)");
    if (!iterator) {
        return std::nullopt;
    }
    DBusMessageIter array;
    dbus_message_iter_recurse(&*iterator, &array);
    std::vector<ObjectRef> objects;
    while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRUCT) {
        objects.push_back(objectIn(array));
        dbus_message_iter_next(&array);
    }
    return objects;
}

std::vector<std::optional<std::uint32_t>>
AccessibleBus::roles(const std::vector<ObjectRef>& objects) {
    return connection_->askEach<std::uint32_t>(
        objects, [](const ObjectRef& object) { return methodCall(object, "GetRole"); },
        [](DBusMessage* reply) { return basicIn<dbus_uint32_t>(reply, "u"); });
}

std::vector<std::optional<StateBits>> AccessibleBus::states(const std::vector<ObjectRef>& objects) {
    return connection_->askEach<StateBits>(
        objects, [](const ObjectRef& object) { return methodCall(object, "GetState"); }, statesIn);
}

std::vector<std::optional<std::string>>
AccessibleBus::names(const std::vector<ObjectRef>& objects) {
    return connection_->askEach<std::string>(
        objects, [](const ObjectRef& object) { return propertyGet(object, "Name"); },
        stringProperty);
}

std::optional<std::int32_t> AccessibleBus::childCount(const ObjectRef& object) {
    return int32Property(connection_->ask(propertyGet(object, "ChildCount")).get());
}

std::optional<std::uint32_t> AccessibleBus::processOf(const std::string& busName) {
    Message question(dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus",
                                                  "GetConnectionUnixProcessID"));
    const char* name = busName.c_str();
    if (!question || dbus_message_append_args(question.get(), DBUS_TYPE_STRING, &name,
                                              DBUS_TYPE_INVALID) == FALSE) {
        return std::nullopt;
    }
    const Message reply = connection_->ask(question);
    return basicIn<dbus_uint32_t>(reply.get(), "u");
}

std::vector<AccessibleBus::Answers>
AccessibleBus::askAbout(const std::vector<std::pair<ObjectRef, unsigned>>& objects) {
    // The questions in a fixed order for each object, answered in the same order.
    using Make = Message (*)(const ObjectRef&);
    static const std::pair<unsigned, Make> kinds[] = {
        {askName, [](const ObjectRef& object) { return propertyGet(object, "Name"); }},
        {askStates, [](const ObjectRef& object) { return methodCall(object, "GetState"); }},
        {askRole, [](const ObjectRef& object) { return methodCall(object, "GetRole"); }},
        {askCount, [](const ObjectRef& object) { return propertyGet(object, "ChildCount"); }},
        {askIndex, [](const ObjectRef& object) { return methodCall(object, "GetIndexInParent"); }},
        {askParent, [](const ObjectRef& object) { return propertyGet(object, "Parent"); }},
    };
    std::vector<Message> questions;
    for (const auto& [object, mask] : objects) {
        for (const auto& [kind, make] : kinds) {
            if ((mask & kind) != 0) {
                questions.push_back(make(object));
            }
        }
    }
    const std::vector<Message> replies = connection_->askAll(questions);
    std::vector<Answers> answers(objects.size());
    std::size_t next = 0;
    for (std::size_t index = 0; index < objects.size(); ++index) {
        const unsigned mask = objects[index].second;
        Answers& answer = answers[index];
        const auto take = [&](unsigned kind) -> DBusMessage* {
            return (mask & kind) != 0 ? replies[next++].get() : nullptr;
        };
        if (DBusMessage* reply = take(askName)) {
            answer.name = stringProperty(reply);
        }
        if (DBusMessage* reply = take(askStates)) {
            answer.states = statesIn(reply);
        }
        if (DBusMessage* reply = take(askRole)) {
            answer.role = basicIn<dbus_uint32_t>(reply, "u");
        }
        if (DBusMessage* reply = take(askCount)) {
            answer.count = int32Property(reply);
        }
        if (DBusMessage* reply = take(askIndex)) {
            answer.index = basicIn<dbus_int32_t>(reply, "i");
        }
        if (DBusMessage* reply = take(askParent)) {
            answer.parent = objectProperty(reply);
        }
    }
    return answers;
}

void AccessibleBus::streamStates(
    const std::function<std::optional<std::size_t>()>& next,
    const std::function<const std::string&(std::size_t)>& pathOf, const std::string& busName,
    std::size_t inFlight, const std::function<void(std::size_t, std::optional<StateBits>)>& take,
    const std::function<bool()>& keepGoing) {
    std::deque<std::pair<std::size_t, Pending>> out;
    const auto fill = [&] {
        while (out.size() < inFlight) {
            const std::optional<std::size_t> index = next();
            if (!index) {
                return;
            }
            out.emplace_back(*index,
                             connection_->send(methodCall({busName, pathOf(*index)}, "GetState")));
        }
    };
    fill();
    while (!out.empty() && keepGoing()) {
        auto [index, call] = std::move(out.front());
        out.pop_front();
        const Message reply = Connection::wait(call);
        take(index, statesIn(reply.get()));
        fill();
    }
}

} // namespace scrivlet::atspi
