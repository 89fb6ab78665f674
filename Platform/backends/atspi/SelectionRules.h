#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the file manager's accessibility tree says, turned into a selection and a folder.
// Nothing here talks to the accessibility bus: the tree is read through callbacks, so the
// rules run the same against the real tree and against a table in a test.
namespace scrivlet::atspi {

// How many items of the file view are selected, as far as a scan could tell.
enum class SelectedCount {
    none,
    one,
    several,
    unknown, // too many items to look at, or an item that did not answer
};

struct CellScanResult {
    SelectedCount count = SelectedCount::unknown;
    std::size_t selectedIndex = 0; // the one selected item when count is `one`
    std::size_t cellsRead = 0;     // how many items were asked for their state
};

// Looks at the items of a view of `cellCount` items, asking `isSelected(index)` in order;
// nothing means the item could not be read. Stops at the second selected item. A view of
// more than `cap` items is not read at all: at about a millisecond per item a large folder
// would hold the main thread for seconds, and "too many to know" is never a single selection.
CellScanResult scanCells(std::size_t cellCount, std::size_t cap,
                         const std::function<std::optional<bool>(std::size_t)>& isSelected);

// The folder part of a main window's title: the title without the application's name.
// With the full-path setting on this is an absolute path, otherwise the folder's name.
std::string folderFromTitle(std::string_view title, std::string_view applicationName);

// A folder's location as the file manager shows it: its window title and its location bar,
// which shows either buttons, the first of which names a place ("/" for the root, or a
// place's name), or, while it is edited, the location as text.
struct FolderClues {
    std::string title;                   // already without the application's name
    std::vector<std::string> breadcrumb; // the location bar's buttons, first to last
    std::string locationText;            // the location bar's text
};

// A place the file manager lists, by its shown name.
struct Place {
    std::string name;
    std::string path;
};

// The local places of a places file (XBEL: <bookmark href="file:///..."><title>...</title>),
// with their paths decoded; places that are not local folders are left out.
std::vector<Place> placesFromBookmarks(std::string_view xbel);

// The absolute folders the clues could stand for, without duplicates. An absolute title is
// the folder itself (the full-path title setting), and nothing else is. Otherwise: the
// location bar's buttons rebuilt on "/" or on each place whose name the first one shows, or,
// when it shows no buttons, its text as a path or file URL; each only when the title names
// it (its last part, or the name of the place it is). Anything that is not a clean absolute
// path is left out.
std::vector<std::string> folderCandidates(const FolderClues& clues,
                                          const std::vector<Place>& places);

// The one candidate `confirm` accepts; nothing when none or more than one does, since two
// folders that both fit leave the one shown unknown.
std::optional<std::string> chooseFolder(const std::vector<std::string>& candidates,
                                        const std::function<bool(const std::string&)>& confirm);

// `folder`/`name` when `name` is a plain file name (no separator, not "." or "..").
std::optional<std::string> pathInFolder(const std::string& folder, std::string_view name);

// What an accessibility event from the file manager calls for.
enum class EventEffect {
    ignore,
    rescan,     // the selection or the folder may have changed
    refindView, // the window's structure changed: find the view again, then rescan
};

// `type` is the event's full name ("object:state-changed:selected", "window:activate"...);
// state changes pass their new value in `detail1`.
EventEffect classifyEvent(std::string_view type, int detail1);

// Coalesces a burst of events into one rescan: the first event asks for a rescan `delay`
// seconds later; later events push it back, but never past `maxDelay` after the first, so
// a steady stream (holding an arrow key down) still shows its progress.
class RescanSchedule {
public:
    RescanSchedule(double delay, double maxDelay) : delay_(delay), maxDelay_(maxDelay) {}

    // An event at `now`; answers the instant the rescan should run at.
    double noteEvent(double now);
    // The rescan ran; the next event starts a new burst.
    void noteRescan() { burstStart_.reset(); }
    bool isPending() const { return burstStart_.has_value(); }

private:
    double delay_;
    double maxDelay_;
    std::optional<double> burstStart_;
};

} // namespace scrivlet::atspi

namespace scrivlet::atspi {

// Reads the items of a view from the focused item outward (its neighbours first, where a
// shift-, rubber-band or select-all selection shows a second item soonest) and stops at the
// second selected item. Either item by item (`advance`, which returns once `keepGoing` says
// no), or with many questions out at once: `nextToAsk` hands out the items in that order and
// `record` takes their answers in whatever order they come back.
class OutwardScan {
public:
    // With a `reach`, reads at most that many items: the scan then only tells whether the
    // neighbourhood of the start holds a second selected item.
    OutwardScan(std::size_t cellCount, std::size_t start,
                std::size_t reach = static_cast<std::size_t>(-1));

    // Reads on while `keepGoing()` allows; answers whether the scan is over.
    bool advance(const std::function<std::optional<bool>(std::size_t)>& isSelected,
                 const std::function<bool()>& keepGoing);
    std::optional<std::size_t> nextToAsk();
    void record(std::size_t index, std::optional<bool> selected);
    bool isDone() const { return done_; }
    // What was found; `none` and `one` hold only once the scan is over.
    const CellScanResult& result() const { return result_; }

private:
    std::optional<std::size_t> nextIndex();

    std::size_t count_;
    std::size_t start_;
    std::size_t reach_;
    std::size_t step_ = 0;
    std::size_t asked_ = 0;
    bool done_ = false;
    std::optional<std::size_t> found_;
    CellScanResult result_;
};

} // namespace scrivlet::atspi
