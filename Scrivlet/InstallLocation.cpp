// The install location check: the second launch step. The app expects to run from an
// Applications folder and offers to be moved there when it does not.
#include "Platform/desktop/Alert.h"
#include "Platform/desktop/Application.h"
#include "Platform/desktop/NotificationCenter.h"
#include "Platform/system/Bundle.h"
#include "Platform/system/FileManager.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/AppLog.h"

#include <algorithm>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

// The folder that holds the app bundle, as the bundle's path spells it.
fs::path appDirectory() {
    return FileManager::standardized(Bundle::main().bundlePath()).parent_path();
}

} // namespace

std::vector<fs::path> AppDelegate::allowedInstallDirectories() {
    // The system's folder is where the package put the app: a packaged app never asks.
    const FileManager& fileManager = FileManager::defaultManager();
    std::vector<fs::path> allowed{
        FileManager::standardized(fileManager.systemApplicationsDirectory())};
    if (const auto user = fileManager.userApplicationsDirectory()) {
        allowed.push_back(FileManager::standardized(*user));
    }
    return allowed;
}

bool AppDelegate::isInstalledByPackage() {
    return FileManager::standardized(appDirectory()) ==
           FileManager::standardized(FileManager::defaultManager().systemApplicationsDirectory());
}

bool AppDelegate::checkInstallLocation() {
    const fs::path directory = FileManager::standardized(appDirectory());
    const std::vector<fs::path> allowed = allowedInstallDirectories();
    // Exact comparison: a subfolder does not count and symbolic links are not resolved.
    if (std::find(allowed.begin(), allowed.end(), directory) != allowed.end()) {
        return true;
    }
    return promptToMoveToApplications();
}

bool AppDelegate::promptToMoveToApplications() {
    Application::shared().activateIgnoringOtherApps(true);
    const std::string directory = Bundle::main().bundlePath().parent_path().string();
    Alert alert;
    alert.alertStyle = AlertStyle::warning;
    alert.messageText = "Move Scrivlet to the Applications folder";
    alert.informativeText =
        "Scrivlet should run from your Applications folder so that auto-start, the Finder "
        "extension, and uninstall work reliably. Drag Scrivlet onto the Applications shortcut, "
        "then open it from there.\n\nIt's currently running from:\n\n" +
        directory;
    alert.addButtonWithTitle("Quit and Reveal in Finder");
    alert.addButtonWithTitle("Open Anyway");
    if (alert.runModal() == NSAlertFirstButtonReturn) {
        AppLog::install().info("User chose to quit and move the app from %{private}s", {directory});
        Workspace::shared().activateFileViewerSelectingURLs(
            {URL::fileURL(Bundle::main().bundlePath())});
        Application::shared().terminate(nullptr);
        return false;
    }
    AppLog::install().info("User chose to run from %{private}s without moving", {directory});
    return true;
}

} // namespace scrivlet
