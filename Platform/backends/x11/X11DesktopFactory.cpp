#include "Platform/backends/x11/X11DesktopFactory.h"

#include "Platform/backends/atspi/AtspiFileManagerSelection.h"
#include "Platform/backends/x11/FrontFolderSelection.h"
#include "Platform/backends/x11/SelectionFile.h"
#include "Platform/backends/x11/WindowFolders.h"
#include "Platform/backends/x11/X11Desktop.h"

namespace scrivlet::x11 {

namespace {

// The published selection checked against the front window's folder, with the file
// manager's window list kept up to date from the bus.
class PublishedSelection final : public FileManagerSelection {
public:
    explicit PublishedSelection(std::unique_ptr<FileManagerSelection> published)
        : checked_(std::move(published)) {}

    bool isAvailable() const override { return checked_.isAvailable(); }
    void follow(pid_t processIdentifier, ChangeHandler onChange) override {
        checked_.follow(processIdentifier, std::move(onChange));
        // Only now: the bus connection wants the toolkit's application object to exist.
        if (!windows_) {
            windows_ = std::make_unique<WindowFolders>(
                [this](auto folders) { checked_.setWindowFolders(std::move(folders)); });
        }
    }
    void stopFollowing() override { checked_.stopFollowing(); }
    std::optional<std::string> singleSelectedPath() override {
        return checked_.singleSelectedPath();
    }
    void fileManagerWindowInFront(const std::string& windowObjectPath) override {
        checked_.fileManagerWindowInFront(windowObjectPath);
    }

private:
    FrontFolderSelection checked_;
    std::unique_ptr<WindowFolders> windows_;
};

} // namespace

std::unique_ptr<DesktopBackend> openX11Desktop(RunLoop& loop,
                                               std::unique_ptr<FileManagerSelection> selection,
                                               std::function<bool(const URL&)> urlOpener,
                                               std::string& error) {
    std::unique_ptr<X11Desktop> desktop = X11Desktop::open(loop, std::move(selection), error);
    if (desktop) {
        desktop->setURLOpener(std::move(urlOpener));
    }
    return desktop;
}

std::unique_ptr<FileManagerSelection> selectionFromAccessibility(RunLoop& loop) {
    return atspi::makeAtspiFileManagerSelection(loop);
}

std::unique_ptr<FileManagerSelection> selectionFromFile(RunLoop& loop, const std::string& path) {
    return SelectionFile::watch(loop, path);
}

std::unique_ptr<FileManagerSelection> selectionFromExtension(RunLoop& loop,
                                                             const std::string& path) {
    std::unique_ptr<SelectionFile> published = SelectionFile::watch(loop, path);
    if (!published) {
        return nullptr;
    }
    return std::make_unique<PublishedSelection>(std::move(published));
}

} // namespace scrivlet::x11
