#pragma once

#include "Platform/backends/atspi/ViewReader.h"
#include "Platform/base/RunLoop.h"
#include "Platform/desktop/FileManagerSelection.h"

#include <cstddef>
#include <functional>
#include <memory>

namespace scrivlet::atspi {

struct AtspiSelectionOptions {
    // Views of more items than this get no answer when the file manager's plug-in does not
    // count the selection: every item is then read to confirm a single selection, and at
    // about 0.2 ms an item (questions sent many at once) a larger view would take seconds to
    // answer (on the reader's thread, but the answer would be late).
    std::size_t cellCap = 20000;
    // How many questions about items are out at once.
    std::size_t inFlight = 64;
    // A burst of events makes one rescan this long after its last event. None by default:
    // the look runs on the reader's thread, which gives up a look as soon as a newer one is
    // asked for, so waiting for a burst to end only delays the answer...
    double coalesceSeconds = 0.0;
    // ...but never later than this after its first.
    double maxCoalesceSeconds = 0.1;
    // After a rescan for events, one more this much later: the file manager tells of a
    // selection cleared within 0.3 s of the last change by nothing at all.
    double settleSeconds = 0.5;
    // Ask the session to turn accessibility on, starting its bus when nobody has yet.
    bool enableAccessibility = true;
    // Called after each rescan.
    std::function<void(const ScanReport&)> onScan;
};

// The file manager's selection read through AT-SPI 2 on the given run loop (the process's
// main loop): its events reach the loop through a GLib context that the loop runs, so no
// other loop is needed, whether or not a toolkit runs GLib's default context beside it.
// One such object per process at a time.
std::unique_ptr<FileManagerSelection>
makeAtspiFileManagerSelection(RunLoop& loop, AtspiSelectionOptions options = {});

} // namespace scrivlet::atspi
