// The app's URL commands: "annotate" opens the panel for a file, "remove" deletes a file's
// annotation and everything synced from it. Only files in the user's home folder qualify.
// The target is checked with its links resolved; a link put on its path since then cannot
// carry the attribute writes out of the home folder, as Scrivcore reaches the file from the
// home folder without following links.
#include "Platform/base/RunLoop.h"
#include "Platform/desktop/RunningApplication.h"
#include "Platform/desktop/Screen.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/AnnotationWriter.h"
#include "Scrivcore/PanelViewModel.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/AppLog.h"
#include "Scrivlet/CommandTarget.h"
#include "Scrivlet/CommandURL.h"
#include "Scrivlet/PanelController.h"
#include "Scrivlet/SelectionTracker.h"

namespace scrivlet {

namespace fs = std::filesystem;

void AppDelegate::handleURL(const URL& url) {
    appLog("URL received: " + url.absoluteString());
    const std::optional<CommandURL> command = readCommandURL(url);
    if (!command) {
        return;
    }
    const CommandTarget target = checkCommandTarget(command->path);
    if (!target.accepted) {
        appLog("Rejected URL: path outside home or doesn't exist: " + target.resolvedPath.string());
        return;
    }
    carryOutURLCommand(command->command, target.resolvedPath);
}

void AppDelegate::carryOutURLCommand(const std::string& command, const fs::path& target) {
    // Finder's selection reports of the next second must not replace the file named here.
    selectionLockedUntil = RunLoop::main().now() + std::chrono::seconds(1);
    if (command == "annotate") {
        annotateFromURL(target);
    } else if (command == "remove") {
        removeAnnotationFromURL(target);
    } else {
        appLog("Unknown action: " + command);
    }
}

void AppDelegate::annotateFromURL(const fs::path& target) {
    userDismissed = false;
    finderIsActive = true;
    if (selectionTracker->finderPID) {
        if (auto finder = RunningApplication::withProcessIdentifier(*selectionTracker->finderPID)) {
            finder->activate();
        }
    }
    if (!viewModel->isVisible() || viewModel->selectedFileURL() != target) {
        viewModel->beginAnnotation(target);
    }
    if (const auto finder = focusedFinderFrame()) {
        panelController->show(finder->frame, finder->isFullscreen);
    } else {
        panelController->show(defaultFinderFrame(), false);
    }
    appLog("Opened annotation editor for " + target.filename().string());
}

void AppDelegate::removeAnnotationFromURL(const fs::path& target) {
    try {
        AnnotationWriter::remove(*store, target.string());
    } catch (const std::exception& error) {
        appLog(std::string("Failed to remove: ") + error.what());
        return;
    }
    // Unsaved panel edits of this file would write the record, its badge and tags back.
    viewModel->discardUnsavedEdits(target);
    viewModel->selectFile(std::nullopt);
    panelController->hide();
    appLog("Removed annotation for " + target.filename().string());
}

CGRect AppDelegate::defaultFinderFrame() const {
    std::optional<Screen> screen = Screen::main();
    if (!screen) {
        const std::vector<Screen> screens = Screen::screens();
        if (screens.empty()) {
            return CGRect(100, 100, 600, 800);
        }
        screen = screens.front();
    }
    const CGRect& visible = screen->visibleFrame;
    return CGRect(visible.midX() - 300, visible.minY(), 600, visible.height());
}

} // namespace scrivlet
