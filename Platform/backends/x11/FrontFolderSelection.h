#pragma once

#include "Platform/desktop/FileManagerSelection.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace scrivlet::x11 {

// The selection a file manager's extension publishes, believed only for the window in front.
// The extension sees each selection change with its full path but not the window it happened
// in, and all of the file manager's windows share one process: after a switch to another
// window the published path may belong to the window behind. So the path is the answer only
// when its folder is the folder the front window shows, and only when it was published since
// that window came to the front; otherwise there is no answer, never another window's file.
//
// Windows are named by their object paths on the session bus, as the file manager names them
// in its list of open windows and on each X window.
class FrontFolderSelection final : public FileManagerSelection {
public:
    explicit FrontFolderSelection(std::unique_ptr<FileManagerSelection> published);

    // The file manager window that came to the front; a window of another application in
    // front leaves the last one standing, since the panel beside it may have the focus.
    void fileManagerWindowInFront(const std::string& windowObjectPath) override;
    // Each open window's folder, as an absolute path; a window showing no local folder is
    // left out.
    void setWindowFolders(std::map<std::string, std::string> folders);

    bool isAvailable() const override { return published_->isAvailable(); }
    void follow(pid_t processIdentifier, ChangeHandler onChange) override;
    void stopFollowing() override;
    std::optional<std::string> singleSelectedPath() override;

private:
    void changed();

    std::unique_ptr<FileManagerSelection> published_;
    ChangeHandler onChange_;
    std::optional<std::string> frontWindow_;
    std::map<std::string, std::string> folders_;
    // A window switch withdraws the published path until the extension publishes again.
    bool withdrawn_ = false;
};

// The folder of a window's location URI: the local path of a file: URI, without a trailing
// slash; nothing for any other scheme or a malformed URI.
std::optional<std::string> folderOfLocation(const std::string& uri);

} // namespace scrivlet::x11
