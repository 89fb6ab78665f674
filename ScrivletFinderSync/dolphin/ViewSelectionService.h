#pragma once

#include <cstdint>
#include <string>

namespace scrivlet {

// How many items a file view has selected, and the name it shows for the item when there is
// exactly one.
struct ViewSelection {
    // -1: no view of this process has that accessible id, or the view listed other than
    // the one item it counted (the app then reads the items itself)
    int count = -1;
    std::string name; // UTF-8
};

// The selection of the view whose accessible object has this id (the number the object's
// path on the accessibility bus ends in), read from the view's own table of selected items.
// Call on the thread that owns the view.
ViewSelection viewSelection(std::uint32_t accessibleId);

// Answers the app's selection reader from inside the file manager, on the file manager's own
// session-bus name (object /com/scrivlet/Scrivlet/ViewSelection, method SelectedItem: a view's
// accessible id in, its selected count and the one item's name out). From outside, confirming
// that exactly one item of a view is selected means asking every item for its state, one
// message each (seconds for a folder of thousands of files); inside, the view counts its
// selection itself. The reader still finds the view, its folder and the focused item over the
// accessibility bus, and reads every item itself where no plug-in answers here.
// Registers the one service of the process, once; later calls, and calls off the main thread
// or without a session bus, do nothing.
void publishViewSelection();

} // namespace scrivlet
