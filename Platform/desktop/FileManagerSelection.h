#pragma once

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

namespace scrivlet {

// The file manager's selection, as its accessibility tree shows it: the seam through which a
// desktop backend learns it. The backend answers the window side of accessibility itself
// (focused window, frame, moves) and asks this for what only the file manager knows: which
// files are selected, in which folder. The X11 desktop reads it through AT-SPI or a file.
class FileManagerSelection {
public:
    using ChangeHandler = std::function<void()>;

    virtual ~FileManagerSelection() = default;

    // Whether the accessibility bus answers; the counterpart of the user's permission.
    virtual bool isAvailable() const = 0;

    // Follows the file manager process `processIdentifier`, replacing any earlier one.
    // `onChange` runs on the main run loop, coalesced, after the selection or the folder
    // shown may have changed.
    virtual void follow(pid_t processIdentifier, ChangeHandler onChange) = 0;
    virtual void stopFollowing() = 0;

    // The absolute path of the one selected file; nothing when none or several are selected,
    // or when the folder shown is not known for certain.
    virtual std::optional<std::string> singleSelectedPath() = 0;

    // Told when one of the followed file manager's windows comes to the front, by the object
    // path it carries on the session bus, for readers that cannot tell the windows of one
    // process apart otherwise.
    virtual void fileManagerWindowInFront(const std::string& /*windowObjectPath*/) {}
};

} // namespace scrivlet
