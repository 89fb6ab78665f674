// Uninstall: the "Uninstall Scrivlet…" menu command. The app confirms, starts the uninstall
// script (a resource of its bundle) detached, unregisters its login item, moves its bundle to
// the Trash and quits; the script finishes the removal after the app has ended. A bundle that
// the system's package installed is the package manager's to remove, and a bundle that would
// not go to the Trash is still there: either way the user is told before the app quits.
#include "Platform/desktop/Alert.h"
#include "Platform/desktop/Application.h"
#include "Platform/system/Bundle.h"
#include "Platform/system/FileManager.h"
#include "Platform/system/LoginItemService.h"
#include "Platform/system/Process.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/AppLog.h"

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

constexpr const char* stagedScriptName = "scrivlet-uninstall.sh";
// Removing the app's package removes the file managers' plug-in packages with it, since
// they depend on it.
constexpr const char* packageRemovalCommand = "sudo apt remove scrivlet";

bool confirmUninstall() {
    Alert alert;
    alert.alertStyle = AlertStyle::warning;
    alert.messageText = "Uninstall Scrivlet?";
    alert.informativeText =
        "This removes the app and its system components — the login item, Finder extensions, "
        "preferences and caches. Your annotations and the Finder tags and comments already on "
        "your files are preserved.";
    alert.addButtonWithTitle("Uninstall");
    alert.addButtonWithTitle("Cancel");
    return alert.runModal() == NSAlertFirstButtonReturn;
}

// Copies the script into the private temporary folder, replacing a copy left by an earlier
// attempt, and makes it executable. Answers the staged path or what went wrong.
PathOrError stageScript(const fs::path& resource) {
    FileManager& fileManager = FileManager::defaultManager();
    PathOrError temporary = fileManager.temporaryDirectory();
    if (const auto* error = std::get_if<PlatformError>(&temporary)) {
        return *error;
    }
    const fs::path staged = std::get<fs::path>(temporary) / stagedScriptName;
    (void)fileManager.removeItem(staged); // usually there is nothing to remove
    if (auto error = fileManager.copyItem(resource, staged)) {
        return *error;
    }
    if (auto error = fileManager.setPosixPermissions(staged, 0755)) {
        return *error;
    }
    return staged;
}

} // namespace

void AppDelegate::showUninstallFailure(const std::string& informativeText) {
    Alert alert;
    alert.messageText = "Uninstall failed";
    alert.informativeText = informativeText;
    alert.runModal();
}

void AppDelegate::showBundleRemains(const std::string& messageText, const std::string& reason) {
    Alert alert;
    alert.alertStyle = AlertStyle::warning;
    alert.messageText = messageText;
    alert.informativeText =
        "The login item, the Finder extension's registration, preferences and caches are being "
        "removed, but the app stays at:\n\n" +
        Bundle::main().bundlePath().string() + "\n\n" + reason;
    alert.runModal();
}

void AppDelegate::runUninstall() {
    Application::shared().activateIgnoringOtherApps(true);
    if (!confirmUninstall()) {
        return;
    }
    const Bundle& bundle = Bundle::main();
    const std::optional<fs::path> resource = bundle.pathForResource("uninstall", "sh");
    if (!resource) {
        AppLog::uninstall().error("uninstall.sh missing from bundle");
        showUninstallFailure("The uninstaller script is missing from the app bundle.");
        return;
    }
    const PathOrError staged = stageScript(*resource);
    if (const auto* error = std::get_if<PlatformError>(&staged)) {
        AppLog::uninstall().error("Failed to stage uninstall script: %{public}s",
                                  {error->localizedDescription});
        showUninstallFailure("Couldn't prepare the uninstaller. Nothing was changed.");
        return;
    }
    Process script;
    script.executableURL = std::get<fs::path>(staged);
    script.arguments = {"--self", std::to_string(Process::currentProcessIdentifier()),
                        bundle.bundlePath().string()};
    if (auto error = script.run()) {
        AppLog::uninstall().error("Failed to launch uninstaller: %{public}s",
                                  {error->localizedDescription});
        showUninstallFailure("Couldn't start the uninstaller. Nothing was changed.");
        return;
    }
    // From here on the script runs; whatever fails below, the app goes on to its end.
    LoginItemService mainApp(bundle.bundleIdentifier(), bundle.executablePath(), "Scrivlet");
    if (auto error = mainApp.unregisterItem()) {
        AppLog::uninstall().error("unregister failed (continuing): %{public}s",
                                  {error->localizedDescription});
    }
    if (isInstalledByPackage()) {
        // Never moved, even by a user allowed to: the package manager would lose track of it.
        AppLog::uninstall().info("Bundle belongs to the system package; left in place");
        showBundleRemains("Scrivlet's package is still installed",
                          std::string("It was installed by the system's package manager, which "
                                      "removes it (and the file managers' plug-ins) with:\n\n") +
                              packageRemovalCommand);
    } else if (auto error = FileManager::defaultManager().trashItem(bundle.bundlePath())) {
        AppLog::uninstall().error("Couldn't Trash bundle (script will retry): %{public}s",
                                  {error->localizedDescription});
        showBundleRemains("Scrivlet couldn't be moved to the Trash",
                          error->localizedDescription +
                              "\n\nMove it to the Trash yourself once Scrivlet has quit. If it "
                              "was installed from a package, remove it with:\n\n" +
                              packageRemovalCommand);
    }
    Application::shared().terminate(nullptr);
}

} // namespace scrivlet
