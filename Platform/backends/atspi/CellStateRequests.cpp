#include "Platform/backends/atspi/CellStateRequests.h"

#include <atspi/atspi.h>
#include <dbus/dbus.h>
#include <unordered_set>
#include <utility>

namespace scrivlet::atspi {

namespace {

constexpr const char* accessibleInterface = "org.a11y.atspi.Accessible";

struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

bool hasState(const std::vector<dbus_uint32_t>& words, AtspiStateType state) {
    const auto bit = static_cast<std::size_t>(state);
    return bit / 32 < words.size() && (words[bit / 32] & (1U << (bit % 32))) != 0;
}

// Whether a reply to GetState says selected; nothing for an error or a defunct object.
std::optional<bool> selectedIn(DBusMessage* reply) {
    if (reply == nullptr || dbus_message_get_type(reply) != DBUS_MESSAGE_TYPE_METHOD_RETURN ||
        std::string_view(dbus_message_get_signature(reply)) != "au") {
        return std::nullopt;
    }
    DBusMessageIter iterator;
    DBusMessageIter array;
    dbus_message_iter_init(reply, &iterator);
    dbus_message_iter_recurse(&iterator, &array);
    std::vector<dbus_uint32_t> words;
    while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_UINT32) {
        dbus_uint32_t word = 0;
        dbus_message_iter_get_basic(&array, &word);
        words.push_back(word);
        dbus_message_iter_next(&array);
    }
    if (hasState(words, ATSPI_STATE_DEFUNCT)) {
        return std::nullopt;
    }
    return hasState(words, ATSPI_STATE_SELECTED);
}

// The paths of a reply to GetChildren (an array of bus name and path pairs).
std::optional<std::vector<std::string>> pathsIn(DBusMessage* reply) {
    if (reply == nullptr || dbus_message_get_type(reply) != DBUS_MESSAGE_TYPE_METHOD_RETURN ||
        std::string_view(dbus_message_get_signature(reply)) != "a(so)") {
        return std::nullopt;
    }
    DBusMessageIter iterator;
    DBusMessageIter array;
    dbus_message_iter_init(reply, &iterator);
    dbus_message_iter_recurse(&iterator, &array);
    std::vector<std::string> paths;
    while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRUCT) {
        DBusMessageIter pair;
        dbus_message_iter_recurse(&array, &pair);
        dbus_message_iter_next(&pair);
        const char* path = nullptr;
        dbus_message_iter_get_basic(&pair, &path);
        paths.emplace_back(path != nullptr ? path : "");
        dbus_message_iter_next(&array);
    }
    return paths;
}

} // namespace

struct CellStateRequests::Calls {
    StateAnswer onState;
    int timeoutMilliseconds = 0;
    std::unordered_set<DBusPendingCall*> pending;

    // What a question carries to its answer.
    struct Question {
        Calls* owner = nullptr;
        std::size_t index = 0;
        ChildrenAnswer onChildren; // empty for a state question
    };

    bool send(Message message, Question* question) {
        DBusConnection* bus = atspi_get_a11y_bus();
        DBusPendingCall* call = nullptr;
        if (bus == nullptr || !message ||
            dbus_connection_send_with_reply(bus, message.get(), &call, timeoutMilliseconds) ==
                FALSE ||
            call == nullptr) {
            delete question;
            return false;
        }
        pending.insert(call);
        dbus_pending_call_set_notify(call, &Calls::answered, question,
                                     [](void* data) { delete static_cast<Question*>(data); });
        return true;
    }

    // Runs inside the connection's dispatch, on the run loop's thread. What the answer needs
    // is taken out first: the answer may end the whole reading, and this object with it.
    static void answered(DBusPendingCall* call, void* data) {
        auto* question = static_cast<Question*>(data);
        Calls* owner = question->owner;
        const std::size_t index = question->index;
        ChildrenAnswer onChildren = std::move(question->onChildren);
        const Message reply(dbus_pending_call_steal_reply(call));
        owner->pending.erase(call);
        dbus_pending_call_unref(call);
        if (onChildren) {
            onChildren(pathsIn(reply.get()));
        } else {
            const StateAnswer onState = owner->onState;
            onState(index, selectedIn(reply.get()));
        }
    }
};

CellStateRequests::CellStateRequests(StateAnswer onState, int timeoutMilliseconds)
    : calls_(std::make_unique<Calls>()) {
    calls_->onState = std::move(onState);
    calls_->timeoutMilliseconds = timeoutMilliseconds;
}

CellStateRequests::~CellStateRequests() {
    for (DBusPendingCall* call : calls_->pending) {
        dbus_pending_call_cancel(call);
        dbus_pending_call_unref(call);
    }
}

bool CellStateRequests::askSelected(const std::string& busName, const std::string& path,
                                    std::size_t index) {
    Message message(dbus_message_new_method_call(busName.c_str(), path.c_str(), accessibleInterface,
                                                 "GetState"));
    return calls_->send(std::move(message), new Calls::Question{calls_.get(), index, {}});
}

bool CellStateRequests::askChildren(const std::string& busName, const std::string& path,
                                    ChildrenAnswer answer) {
    Message message(dbus_message_new_method_call(busName.c_str(), path.c_str(), accessibleInterface,
                                                 "GetChildren"));
    return calls_->send(std::move(message),
                        new Calls::Question{calls_.get(), 0, std::move(answer)});
}

std::size_t CellStateRequests::outstanding() const {
    return calls_->pending.size();
}

std::optional<std::string> nameAtPath(const std::string& busName, const std::string& path,
                                      int timeoutMilliseconds) {
    DBusConnection* bus = atspi_get_a11y_bus();
    const Message message(dbus_message_new_method_call(busName.c_str(), path.c_str(),
                                                       "org.freedesktop.DBus.Properties", "Get"));
    if (bus == nullptr || !message) {
        return std::nullopt;
    }
    const char* interface = accessibleInterface;
    const char* property = "Name";
    dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING,
                             &property, DBUS_TYPE_INVALID);
    const Message reply(dbus_connection_send_with_reply_and_block(bus, message.get(),
                                                                  timeoutMilliseconds, nullptr));
    if (!reply || std::string_view(dbus_message_get_signature(reply.get())) != "v") {
        return std::nullopt;
    }
    DBusMessageIter iterator;
    DBusMessageIter variant;
    dbus_message_iter_init(reply.get(), &iterator);
    dbus_message_iter_recurse(&iterator, &variant);
    if (dbus_message_iter_get_arg_type(&variant) != DBUS_TYPE_STRING) {
        return std::nullopt;
    }
    const char* name = nullptr;
    dbus_message_iter_get_basic(&variant, &name);
    return std::string(name != nullptr ? name : "");
}

} // namespace scrivlet::atspi
