#pragma once

#include "Platform/base/FileHandle.h"
#include "Platform/desktop/FileManagerSelection.h"

#include <cstdint>
#include <filesystem>
#include <memory>

namespace scrivlet {

class RunLoop;

namespace x11 {

// A file manager selection told through a file rather than read from the accessibility bus:
// the file holds the one selected path (empty or missing: no single selection), and every
// rewrite of it is a selection change. For scripted sessions (demos, end-to-end tests) on a
// desktop whose file manager cannot be read otherwise.
class SelectionFile final : public FileManagerSelection {
public:
    // Watches `path` on `loop`; nothing when its folder cannot be watched.
    static std::unique_ptr<SelectionFile> watch(RunLoop& loop, std::filesystem::path path);
    ~SelectionFile() override;
    SelectionFile(const SelectionFile&) = delete;
    SelectionFile& operator=(const SelectionFile&) = delete;

    bool isAvailable() const override { return true; }
    void follow(pid_t processIdentifier, ChangeHandler onChange) override;
    void stopFollowing() override;
    std::optional<std::string> singleSelectedPath() override;

private:
    SelectionFile(RunLoop& loop, std::filesystem::path path, FileHandle inotify);
    void changed();

    RunLoop& loop_;
    std::filesystem::path path_;
    FileHandle inotify_;
    std::uint64_t source_ = 0;
    ChangeHandler onChange_;
};

} // namespace x11

} // namespace scrivlet
