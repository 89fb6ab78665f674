#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace scrivlet::atspi {

// An object on the accessibility bus: the application's bus name and the object's path.
struct ObjectRef {
    std::string bus;
    std::string path;
    bool operator==(const ObjectRef&) const = default;
};

// An object's state set, as AT-SPI sends it: bit n of the words is state n.
struct StateBits {
    std::vector<std::uint32_t> words;
    bool has(unsigned state) const {
        return state / 32 < words.size() && (words[state / 32] & (1U << (state % 32))) != 0;
    }
};

// A connection of its own to the accessibility bus, for the selection reader's thread: every
// call waits for its answer (at most the timeout), so that the thread reads the file manager's
// tree as plain steps while the main thread waits on nothing. Questions about several objects
// are sent together and their answers then taken in order, which costs one round trip rather
// than one for each. Not shared: one thread uses it.
class AccessibleBus {
public:
    // Nothing when the accessibility bus cannot be reached.
    static std::unique_ptr<AccessibleBus> connect(int timeoutMilliseconds);
    ~AccessibleBus();
    AccessibleBus(const AccessibleBus&) = delete;
    AccessibleBus& operator=(const AccessibleBus&) = delete;

    // Each answers nothing for an object that did not answer (gone, timed out, an error).
    std::optional<std::vector<ObjectRef>> children(const ObjectRef& object);
    std::vector<std::optional<std::uint32_t>> roles(const std::vector<ObjectRef>& objects);
    std::vector<std::optional<StateBits>> states(const std::vector<ObjectRef>& objects);
    std::vector<std::optional<std::string>> names(const std::vector<ObjectRef>& objects);
    std::optional<std::int32_t> childCount(const ObjectRef& object);
    // The process that owns a bus name, by the bus's own word.
    std::optional<std::uint32_t> processOf(const std::string& busName);

    // Several unrelated questions at once, for one round trip: each answers as its own call
    // would, nothing for an object that did not answer.
    struct Answers {
        std::optional<std::string> name;
        std::optional<StateBits> states;
        std::optional<std::uint32_t> role;
        std::optional<std::int32_t> count;
        std::optional<std::int32_t> index;
        std::optional<ObjectRef> parent;
    };
    enum Question : unsigned {
        askName = 1,
        askStates = 2,
        askRole = 4,
        askCount = 8,
        askIndex = 16,
        askParent = 32
    };
    // For each object, the questions its mask asks.
    std::vector<Answers> askAbout(const std::vector<std::pair<ObjectRef, unsigned>>& objects);

    // Asks for many objects' states with up to `inFlight` questions out at once; `next` hands
    // out the index to ask next (nothing when done), `take` gets each answer as it comes.
    // Stops early when `keepGoing` says no (checked between answers).
    void streamStates(const std::function<std::optional<std::size_t>()>& next,
                      const std::function<const std::string&(std::size_t)>& pathOf,
                      const std::string& busName, std::size_t inFlight,
                      const std::function<void(std::size_t, std::optional<StateBits>)>& take,
                      const std::function<bool()>& keepGoing);

private:
    struct Connection;
    explicit AccessibleBus(std::unique_ptr<Connection> connection);
    std::unique_ptr<Connection> connection_;
};

} // namespace scrivlet::atspi
