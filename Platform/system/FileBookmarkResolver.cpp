#include "Platform/system/FileBookmarkResolver.h"

#include <algorithm>
#include <unordered_set>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

std::string folderOf(const std::string& path) {
    return fs::path(path).parent_path().string();
}

// Whether a file whose identity only matched by inode may still be taken for the bookmarked
// one: a rename keeps the folder, a move keeps the name.
bool keptNameOrFolder(const std::string& candidate, const std::string& bookmarked) {
    const fs::path was(bookmarked), now(candidate);
    return was.filename() == now.filename() || was.parent_path() == now.parent_path();
}

void appendMatches(const std::unordered_multimap<std::uint64_t, std::string>& index,
                   std::uint64_t inode, std::vector<std::string>& out) {
    const auto [first, last] = index.equal_range(inode);
    for (auto it = first; it != last; ++it) {
        out.push_back(it->second);
    }
}

} // namespace

FileBookmarkResolver::FileBookmarkResolver(std::vector<std::span<const std::uint8_t>> bookmarks,
                                           fs::path searchRoot, FileSearch::WalkLimits limits)
    : bookmarks_(std::move(bookmarks)), searchRoot_(std::move(searchRoot)), limits_(limits) {}

std::optional<ResolvedBookmark> FileBookmarkResolver::resolve(std::span<const std::uint8_t> data,
                                                              PlatformError& error) {
    const std::optional<FileBookmark::Contents> contents = FileBookmark::decode(data, error);
    if (!contents) {
        return std::nullopt;
    }
    std::error_code statError;
    const auto current = atBookmarkedPath_.identity(contents->path, statError);
    if (current) {
        const IdentityMatch match = compareIdentity(contents->identity, *current);
        if (match != IdentityMatch::different) {
            // Still there. Stale only when the file system now keeps a birth time that the
            // bookmark lacks, so the next bookmark can tell a recycled inode apart.
            const bool lacksBirthTime = !contents->identity.hasBirthTime && current->hasBirthTime;
            return ResolvedBookmark{contents->path, lacksBirthTime};
        }
    }
    if (std::optional<std::string> moved = findMoved(*contents)) {
        return ResolvedBookmark{std::move(*moved), true};
    }
    error = notFound(current ? std::error_code() : statError);
    return std::nullopt;
}

std::optional<std::string> FileBookmarkResolver::findMoved(const FileBookmark::Contents& contents) {
    if (auto found = inOldFolder(contents)) {
        return found;
    }
    if (auto found = inOtherFolders(contents)) {
        return found;
    }
    return inSearchRoot(contents);
}

std::optional<std::string>
FileBookmarkResolver::inOldFolder(const FileBookmark::Contents& contents) {
    const std::string folder = folderOf(contents.path);
    std::vector<std::string> candidates;
    for (const FileSearch::Entry& entry : listing(folder)) {
        if (entry.inode == contents.identity.inode) {
            candidates.push_back((fs::path(folder) / entry.name).string());
        }
    }
    return firstConfirmed(contents, std::move(candidates));
}

std::optional<std::string>
FileBookmarkResolver::inOtherFolders(const FileBookmark::Contents& contents) {
    if (!otherFolders_) {
        // Built once, on the first file that left its folder: every folder any bookmark of
        // the batch names, by inode number.
        std::unordered_set<std::string> folders;
        for (const auto data : bookmarks_) {
            PlatformError ignored;
            if (const auto other = FileBookmark::decode(data, ignored)) {
                folders.insert(folderOf(other->path));
            }
        }
        otherFolders_.emplace();
        for (const std::string& folder : folders) {
            for (const FileSearch::Entry& entry : listing(folder)) {
                otherFolders_->emplace(entry.inode, (fs::path(folder) / entry.name).string());
            }
        }
    }
    std::vector<std::string> candidates;
    appendMatches(*otherFolders_, contents.identity.inode, candidates);
    return firstConfirmed(contents, std::move(candidates));
}

std::optional<std::string>
FileBookmarkResolver::inSearchRoot(const FileBookmark::Contents& contents) {
    if (!walk_) {
        // One walk answers every bookmark of the batch, so it looks for all their inodes.
        std::unordered_set<std::uint64_t> wanted;
        for (const auto data : bookmarks_) {
            PlatformError ignored;
            if (const auto other = FileBookmark::decode(data, ignored)) {
                wanted.insert(other->identity.inode);
            }
        }
        wanted.insert(contents.identity.inode);
        walk_ = FileSearch::walk(searchRoot_, wanted, limits_);
        ++walks_;
    }
    std::vector<std::string> candidates;
    appendMatches(walk_->found, contents.identity.inode, candidates);
    return firstConfirmed(contents, std::move(candidates));
}

std::optional<std::string>
FileBookmarkResolver::firstConfirmed(const FileBookmark::Contents& contents,
                                     std::vector<std::string> candidates) const {
    // Hash order is no order: make the pick among hard links the same on every run.
    std::sort(candidates.begin(), candidates.end());
    for (const std::string& candidate : candidates) {
        if (candidate == contents.path) {
            continue; // already looked at, and it is not the file
        }
        std::error_code error;
        const auto identity = identityOf(candidate, false, error);
        if (!identity) {
            continue;
        }
        switch (compareIdentity(contents.identity, *identity)) {
        case IdentityMatch::same:
            return candidate;
        case IdentityMatch::sameInodeOnly:
            if (keptNameOrFolder(candidate, contents.path)) {
                return candidate;
            }
            break;
        case IdentityMatch::different:
            break;
        }
    }
    return std::nullopt;
}

const std::vector<FileSearch::Entry>& FileBookmarkResolver::listing(const std::string& folder) {
    auto found = listings_.find(folder);
    if (found == listings_.end()) {
        found = listings_.emplace(folder, FileSearch::listFolder(folder)).first;
    }
    return found->second;
}

PlatformError FileBookmarkResolver::notFound(const std::error_code& atStoredPath) const {
    std::string reason;
    if (!atStoredPath) {
        reason = "Another file has taken the file's place, and the file itself was not found";
    } else if (atStoredPath == std::errc::no_such_file_or_directory ||
               atStoredPath == std::errc::not_a_directory) {
        reason = "The file no longer exists where it was, and it was not found";
    } else {
        reason = "The file's location cannot be read (" + atStoredPath.message() +
                 "), and the file was not found";
    }
    reason += " in its folder, the other bookmarked folders or the home folder";
    if (walk_ && !walk_->stoppedBecause.empty()) {
        reason += " (" + walk_->stoppedBecause + ")";
    }
    return {atStoredPath ? atStoredPath
                         : std::make_error_code(std::errc::no_such_file_or_directory),
            reason + "."};
}

} // namespace scrivlet
