#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace scrivlet::atspi {

// Questions to an application on the accessibility bus that do not wait for their answers:
// each call to the file manager costs a round trip of about a millisecond, while it answers
// a question already queued in a fraction of that. So many are sent at once on libatspi's own
// connection, and each answer comes back when that connection is dispatched, which the run
// loop does through the GLib context pump: on the main thread, with no lock and no thread.
// Destroying the object cancels whatever is still out; no answer comes after that.
class CellStateRequests {
public:
    // Whether the item asked about is selected; nothing when it did not answer (gone, timed
    // out, an error) or is defunct.
    using StateAnswer = std::function<void(std::size_t index, std::optional<bool> selected)>;
    // The object paths of an object's children, in order; nothing when it did not answer.
    using ChildrenAnswer = std::function<void(std::optional<std::vector<std::string>> paths)>;

    CellStateRequests(StateAnswer onState, int timeoutMilliseconds);
    ~CellStateRequests();
    CellStateRequests(const CellStateRequests&) = delete;
    CellStateRequests& operator=(const CellStateRequests&) = delete;

    // Asks the object at `path` of the application `busName` for its states. False when the
    // question could not be sent (no bus); no answer comes then.
    bool askSelected(const std::string& busName, const std::string& path, std::size_t index);
    // Asks an object for the paths of all its children in one question.
    bool askChildren(const std::string& busName, const std::string& path, ChildrenAnswer answer);
    // How many questions are still out.
    std::size_t outstanding() const;

private:
    struct Calls;
    std::unique_ptr<Calls> calls_;
};

// The name of the object at `path`, asked and waited for (at most `timeoutMilliseconds`).
std::optional<std::string> nameAtPath(const std::string& busName, const std::string& path,
                                      int timeoutMilliseconds);

} // namespace scrivlet::atspi
