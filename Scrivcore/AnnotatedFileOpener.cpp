#include "Scrivcore/AnnotatedFileOpener.h"

#include "Platform/system/ExtendedAttributes.h"
#include "Platform/system/FileBeneath.h"
#include "Platform/system/UserDirectories.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

std::string withoutTrailingSlash(const fs::path& path) {
    std::string text = path.lexically_normal().native();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

// The part of `path` below `folder`, or false when `path` is neither `folder` nor below it.
bool isBelow(const std::string& path, const std::string& folder, std::string& below) {
    if (path == folder) {
        below.clear();
        return true;
    }
    const std::string prefix = folder == "/" ? folder : folder + "/";
    if (!path.starts_with(prefix)) {
        return false;
    }
    below = path.substr(prefix.size());
    return true;
}

// Cleared by the first ENOSYS: the kernel predates getxattrat.
std::atomic<bool> kernelReadsAtAvailable{true};

FileHandle openFolderAt(const std::string& path, std::error_code& error) {
    FileHandle folder(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isValid()) {
        error = {errno, std::generic_category()};
    }
    return folder;
}

} // namespace

AnnotatedFileOpener::AnnotatedFileOpener() {
    const fs::path home = UserDirectories::home();
    homes_.push_back(withoutTrailingSlash(home));
    std::error_code error;
    const fs::path resolved = fs::canonical(home, error);
    if (!error && resolved.native() != homes_.front()) {
        homes_.push_back(resolved.native());
    }
}

int AnnotatedFileOpener::anchorFor(const std::string& path, std::string& below,
                                   std::error_code& error) {
    for (const std::string& home : homes_) {
        if (isBelow(path, home, below)) {
            if (!home_.isValid()) {
                home_ = openFolderAt(home, error);
            }
            return home_.get();
        }
    }
    below = path.substr(1);
    if (!root_.isValid()) {
        root_ = openFolderAt("/", error);
    }
    return root_.get();
}

AnnotatedFileOpener::Place AnnotatedFileOpener::placeOf(const fs::path& path,
                                                        std::error_code& error) {
    error.clear();
    if (!path.is_absolute()) {
        error = std::make_error_code(std::errc::invalid_argument);
        return {};
    }
    const std::string text = withoutTrailingSlash(path);
    std::string below;
    const int anchor = anchorFor(text, below, error);
    if (anchor < 0) {
        return {};
    }
    if (below.empty()) {
        return {anchor, ""}; // the home folder or the root itself
    }
    const fs::path relative(below);
    const std::string folderPath = fs::path(text).parent_path().native();
    if (!lastFolder_.isValid() || folderPath != lastFolderPath_) {
        lastFolderPath_.clear();
        lastFolder_ = FileBeneath::openFolder(anchor, relative.parent_path(), error);
        if (!lastFolder_.isValid()) {
            return {};
        }
        lastFolderPath_ = folderPath;
    }
    return {lastFolder_.get(), relative.filename().string()};
}

FileHandle AnnotatedFileOpener::open(const fs::path& path, std::error_code& error) {
    const Place place = placeOf(path, error);
    if (place.folderFd < 0) {
        return {};
    }
    return FileBeneath::openEntry(place.folderFd, place.name, error);
}

std::optional<std::string> AnnotatedFileOpener::read(const fs::path& path, const std::string& name,
                                                     std::error_code& error) {
    if (kernelReadsAtAvailable.load(std::memory_order_relaxed)) {
        const Place place = placeOf(path, error);
        if (place.folderFd < 0) {
            return std::nullopt;
        }
        auto value = ExtendedAttributes::getAt(place.folderFd, place.name, name, error);
        if (error != std::errc::function_not_supported) {
            return value;
        }
        kernelReadsAtAvailable.store(false, std::memory_order_relaxed);
    }
    const FileHandle file = open(path, error);
    if (!file.isValid()) {
        return std::nullopt;
    }
    return ExtendedAttributes::get(file.get(), name, error);
}

bool AnnotatedFileOpener::isMissing(const std::error_code& error) {
    return error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory;
}

} // namespace scrivlet
