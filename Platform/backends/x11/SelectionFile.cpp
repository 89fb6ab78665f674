#include "Platform/backends/x11/SelectionFile.h"

#include "Platform/base/RunLoop.h"

#include <array>
#include <fstream>
#include <sys/inotify.h>
#include <unistd.h>

namespace scrivlet::x11 {

std::unique_ptr<SelectionFile> SelectionFile::watch(RunLoop& loop, std::filesystem::path path) {
    path = std::filesystem::absolute(path);
    const int inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify < 0) {
        return nullptr;
    }
    // The folder is watched, so that a file written elsewhere and moved into place counts.
    if (::inotify_add_watch(inotify, path.parent_path().c_str(),
                            IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE) < 0) {
        ::close(inotify);
        return nullptr;
    }
    return std::unique_ptr<SelectionFile>(new SelectionFile(loop, std::move(path), inotify));
}

SelectionFile::SelectionFile(RunLoop& loop, std::filesystem::path path, int inotify)
    : loop_(loop), path_(std::move(path)), inotify_(inotify) {
    source_ = loop_.addFileDescriptorSource(inotify_, [this] { changed(); });
}

SelectionFile::~SelectionFile() {
    loop_.removeSource(source_);
    ::close(inotify_);
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
        const ssize_t length = ::read(inotify_, events.data(), events.size());
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
