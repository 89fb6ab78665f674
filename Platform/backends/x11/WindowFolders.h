#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace scrivlet::x11 {

// The folder each of the file manager's windows shows, as the file manager lists them on the
// session bus (org.freedesktop.FileManager1's OpenWindowsWithLocations), kept up to date from
// the property's change signal. A window with several tabs is left out: which tab is in front
// is not told. Nothing is started to answer: with no file manager on the bus the list stays
// empty until one appears and tells of its windows.
class WindowFolders {
public:
    // Object path of each window -> its folder's absolute path.
    using Handler = std::function<void(std::map<std::string, std::string>)>;

    // `onChange` runs on the main run loop with the whole list, first once it is read.
    explicit WindowFolders(Handler onChange);
    ~WindowFolders();
    WindowFolders(const WindowFolders&) = delete;
    WindowFolders& operator=(const WindowFolders&) = delete;

private:
    struct Receiver;
    std::unique_ptr<Receiver> receiver_;
};

} // namespace scrivlet::x11
