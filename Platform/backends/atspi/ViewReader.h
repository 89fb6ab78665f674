#pragma once

#include "Platform/backends/atspi/AccessibleBus.h"
#include "Platform/backends/atspi/SelectionRules.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace scrivlet::atspi {

class SessionBus;

// One look at the file manager's view, for measurements and diagnostics.
struct ScanReport {
    std::size_t cellsInView = 0;
    std::size_t cellsRead = 0;
    double seconds = 0;             // the whole look, from its start to its answer
    double cellSeconds = 0;         // from the first question about an item to the answer
    double longestSliceSeconds = 0; // the longest the main thread was held by the answer
    // Who counted the selected items: the file manager's plug-in, the reader reading every
    // item's state, or nobody (the look ended before, or the plug-in did not answer in time).
    enum class CountedBy { nobody, fileManager, items };
    CountedBy countedBy = CountedBy::nobody;
};

// A view's selection as the file manager's plug-in counts it.
struct ViewSelectionCount {
    enum class Said {
        counted,
        absent, // no plug-in answers for this view: the items are read instead
        silent  // the plug-in is there but did not answer in time: no answer this look
    };
    Said said = Said::absent;
    std::int32_t count = 0;
    std::string name; // the selected item's, when the count is 1
};

// What the main thread asks of a look; later requests replace earlier ones not yet begun,
// their flags added up.
struct LookRequest {
    std::uint64_t generation = 0;
    pid_t pid = 0;
    // The item the last focus event named.
    std::optional<ObjectRef> focused;
    bool viewStale = false;    // the window changed: find its view again
    bool itemsChanged = false; // items came or went inside the view found
    std::size_t cellCap = 0;
    std::size_t inFlight = 0;
};

// What a look tells the main thread: first the focused item (so that an answer no longer
// true is taken back at once), then its answer.
struct LookNews {
    enum class Kind { focus, answer };
    Kind kind = Kind::answer;
    std::uint64_t generation = 0;
    // focus: whether an item of the view has it, its name, whether it is selected
    bool focusOnItem = false;
    std::optional<std::string> focusedName;
    bool focusedSelected = false;
    // answer
    std::string applicationBus; // empty: the process publishes no tree (yet)
    std::string tablePath;      // the view read, to tell its events from others'
    std::optional<std::string> path;
    ScanReport report;
};

// Reads the file manager's selection with blocking calls on a connection of its own; run
// on the selection reader's thread only, which owns it and everything it remembers between
// looks (the application, the window, the view and its items' paths).
class ViewReader {
public:
    using Send = std::function<void(LookNews)>;
    using Superseded = std::function<bool()>;

    ViewReader(std::unique_ptr<AccessibleBus> bus, std::unique_ptr<SessionBus> sessionBus);
    ~ViewReader();
    ViewReader(const ViewReader&) = delete;
    ViewReader& operator=(const ViewReader&) = delete;

    // One look; gives up without an answer as soon as `superseded` says a newer request came.
    void look(const LookRequest& request, const Send& send, const Superseded& superseded);

private:
    struct Look;
    bool findApplication(pid_t pid);
    std::optional<ObjectRef> activeFrame();
    void findView(const ObjectRef& frame, const std::vector<ObjectRef>& focusedOrParent);
    bool focusLeftView(const LookRequest& request, const std::vector<ObjectRef>& focusedOrParent);
    void readLocationBar(FolderClues& clues);
    std::optional<bool> fileManagerShows(pid_t pid, const std::string& folder);
    std::optional<std::string> folderShown(pid_t pid, const FolderClues& clues,
                                           const std::string& name);
    ViewSelectionCount countedByFileManager(pid_t pid);
    std::optional<std::string> onlySelected(const LookRequest& request, std::size_t cellCount,
                                            std::optional<std::size_t> focusedIndex,
                                            const Superseded& superseded, ScanReport& report);
    std::optional<std::string> onlySelectedByItemStates(const LookRequest& request,
                                                        std::size_t cellCount,
                                                        std::optional<std::size_t> focusedIndex,
                                                        const Superseded& superseded,
                                                        ScanReport& report);
    void forgetApplication();

    std::unique_ptr<AccessibleBus> bus_;
    std::unique_ptr<SessionBus> sessionBus_;
    pid_t pid_ = 0;
    std::optional<ObjectRef> application_;
    std::optional<ObjectRef> frame_;
    std::optional<ObjectRef> table_;
    std::optional<ObjectRef> navigator_;
    std::optional<ObjectRef> focusLookedFor_; // the last focused object outside the view
    std::vector<std::string> cellPaths_;
    std::vector<Place> places_;
    std::optional<std::string> confirmedClues_;
    std::map<std::string, bool> confirmations_;
};

} // namespace scrivlet::atspi
