#include "Platform/backends/x11/SelectionFile.h"

#include "Platform/base/RunLoop.h"

#include <array>
#include <fstream>
#include <sys/inotify.h>
#include <unistd.h>

namespace scrivlet::x11 {

std::unique_ptr<SelectionFile> SelectionFile::watch(RunLoop& loop, std::filesystem::path path) {
    path = std::filesystem::absolute(path);
    FileHandle inotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!inotify.isValid()) {
        return nullptr;
    }
    // The folder is watched, so that a file written elsewhere and moved into place counts.
    if (::inotify_add_watch(inotify.get(), path.parent_path().c_str(),
                            IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE) < 0) {
        return nullptr;
    }
    return std::unique_ptr<SelectionFile>(
        new SelectionFile(loop, std::move(path), std::move(inotify)));
}

SelectionFile::SelectionFile(RunLoop& loop, std::filesystem::path path, FileHandle inotify)
    : loop_(loop), path_(std::move(path)), inotify_(std::move(inotify)) {
    source_ = loop_.addFileDescriptorSource(inotify_.get(), [this] { changed(); });
}

SelectionFile::~SelectionFile() {
    // The descriptor closes after this, once the loop no longer watches it.
    loop_.removeSource(source_);
}

void SelectionFile::follow(pid_t /*processIdentifier*/, ChangeHandler onChange) {
    onChange_ = std::move(onChange);
}

void SelectionFile::stopFollowing() {
    onChange_ = nullptr;
}

void SelectionFile::changed() {
    alignas(inotify_event) std::array<char, 4096> events{};
    bool ours = false;
    for (;;) {
        const ssize_t length = ::read(inotify_.get(), events.data(), events.size());
        if (length <= 0) {
            break;
        }
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events.data() + offset);
            ours = ours || (event->len > 0 && path_.filename() == event->name);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    if (ours && onChange_) {
        onChange_();
    }
}

std::optional<std::string> SelectionFile::singleSelectedPath() {
    std::ifstream file(path_);
    std::string selected;
    std::getline(file, selected);
    if (selected.empty() || selected.front() != '/') {
        return std::nullopt;
    }
    return selected;
}

} // namespace scrivlet::x11
