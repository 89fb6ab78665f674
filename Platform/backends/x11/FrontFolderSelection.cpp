#include "Platform/backends/x11/FrontFolderSelection.h"

#include "Platform/base/URL.h"

#include <filesystem>
#include <utility>

namespace scrivlet::x11 {

namespace {

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// A folder is published with or without its trailing slash; either way its parent counts.
std::string parentFolder(const std::string& path) {
    return std::filesystem::path(withoutTrailingSlash(path)).lexically_normal().parent_path();
}

} // namespace

FrontFolderSelection::FrontFolderSelection(std::unique_ptr<FileManagerSelection> published)
    : published_(std::move(published)) {}

void FrontFolderSelection::fileManagerWindowInFront(const std::string& windowObjectPath) {
    if (frontWindow_ == windowObjectPath) {
        return;
    }
    // The first window known needs no withdrawal: nothing was published for another one.
    withdrawn_ = frontWindow_.has_value();
    frontWindow_ = windowObjectPath;
    changed();
}

void FrontFolderSelection::setWindowFolders(std::map<std::string, std::string> folders) {
    if (folders_ == folders) {
        return;
    }
    folders_ = std::move(folders);
    changed();
}

void FrontFolderSelection::follow(pid_t processIdentifier, ChangeHandler onChange) {
    onChange_ = std::move(onChange);
    published_->follow(processIdentifier, [this] {
        withdrawn_ = false;
        changed();
    });
}

void FrontFolderSelection::stopFollowing() {
    published_->stopFollowing();
    onChange_ = nullptr;
}

void FrontFolderSelection::changed() {
    if (onChange_) {
        onChange_();
    }
}

std::optional<std::string> FrontFolderSelection::singleSelectedPath() {
    if (withdrawn_ || !frontWindow_) {
        return std::nullopt;
    }
    const auto folder = folders_.find(*frontWindow_);
    if (folder == folders_.end()) {
        return std::nullopt;
    }
    std::optional<std::string> path = published_->singleSelectedPath();
    if (!path) {
        return std::nullopt;
    }
    if (parentFolder(*path) != folder->second) {
        return std::nullopt;
    }
    return path;
}

std::optional<std::string> folderOfLocation(const std::string& uri) {
    const std::optional<URL> url = URL::fromString(uri);
    if (!url) {
        return std::nullopt;
    }
    const std::optional<std::filesystem::path> path = url->fileSystemPath();
    if (!path || !path->is_absolute()) {
        return std::nullopt;
    }
    return withoutTrailingSlash(path->lexically_normal().string());
}

} // namespace scrivlet::x11
