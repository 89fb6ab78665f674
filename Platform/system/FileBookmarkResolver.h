#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/PlatformError.h"
#include "Platform/system/FileBookmark.h"
#include "Platform/system/FileSearch.h"
#include "Platform/system/PathLookup.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace scrivlet {

struct SCRIVLET_PLATFORM_API ResolvedBookmark {
    std::string path; // absolute
    // The bookmark no longer describes the file as it is (it moved, or the bookmark lacks
    // what the file system can now record): the caller should make a fresh one.
    bool isStale = false;
};

// Resolves a batch of bookmarks, sharing the searches between them.
//
// A bookmark whose path still names its file resolves to that path and is not stale. A file
// that is gone from there (moved, renamed, or replaced by another file of the same name) is
// looked for by its identity: first in its old folder, then in the folders of the other
// bookmarks of the batch, then by one bounded walk of the search root, made at most once
// however many bookmarks need it. Where it is found it resolves, stale, to its new path.
//
// Where the file system records no birth time, device and inode are all there is to compare,
// and a deleted file's inode may since belong to another file. A file found elsewhere on such
// a file system is therefore only taken when it kept its name or its folder.
class SCRIVLET_PLATFORM_API FileBookmarkResolver {
public:
    // `bookmarks`: every bookmark the caller is going to resolve. Their bytes must outlive
    // the resolver. `searchRoot` is the home folder in the app.
    FileBookmarkResolver(std::vector<std::span<const std::uint8_t>> bookmarks,
                         std::filesystem::path searchRoot, FileSearch::WalkLimits limits = {});
    FileBookmarkResolver(const FileBookmarkResolver&) = delete;
    FileBookmarkResolver& operator=(const FileBookmarkResolver&) = delete;

    // The file's current path, or nothing and an error with a readable description (damaged
    // data, another version, a file that no longer exists).
    std::optional<ResolvedBookmark> resolve(std::span<const std::uint8_t> data,
                                            PlatformError& error);

    // How often the search root was walked: never more than once.
    int searchRootWalks() const { return walks_; }

private:
    std::optional<std::string> findMoved(const FileBookmark::Contents& contents);
    std::optional<std::string> inOldFolder(const FileBookmark::Contents& contents);
    std::optional<std::string> inOtherFolders(const FileBookmark::Contents& contents);
    std::optional<std::string> inSearchRoot(const FileBookmark::Contents& contents);
    std::optional<std::string> firstConfirmed(const FileBookmark::Contents& contents,
                                              std::vector<std::string> candidates) const;
    const std::vector<FileSearch::Entry>& listing(const std::string& folder);
    // `atStoredPath`: why the bookmarked path could not be looked at, or no error when
    // another file is there.
    PlatformError notFound(const std::error_code& atStoredPath) const;

    std::vector<std::span<const std::uint8_t>> bookmarks_;
    // Bookmarks come in path order: most are of a file in the same folder as the one before.
    PathLookup atBookmarkedPath_;
    std::filesystem::path searchRoot_;
    FileSearch::WalkLimits limits_;
    std::unordered_map<std::string, std::vector<FileSearch::Entry>> listings_;
    std::optional<std::unordered_multimap<std::uint64_t, std::string>> otherFolders_;
    std::optional<FileSearch::WalkResult> walk_;
    int walks_ = 0;
};

} // namespace scrivlet
