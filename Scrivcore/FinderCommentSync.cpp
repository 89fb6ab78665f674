#include "Scrivcore/FinderCommentSync.h"

#include "Platform/system/ExtendedAttributes.h"
#include "Scrivcore/AnnotatedFileOpener.h"
#include "Scrivcore/ScrivcoreLog.h"

namespace scrivlet {

namespace FinderCommentSync {

namespace {

void logFailure(const char* action, const std::filesystem::path& fileURL,
                const std::error_code& error) {
    ScrivcoreLog::attributes().error(
        "Cannot %{public}s of %{private}s: %{public}s",
        {action, fileURL.string(), ExtendedAttributes::describe(error)});
}

struct CommentState {
    std::optional<std::string> comment; // empty comments count as none
    bool hasMarker = false;
    bool isOurs = false;
};

// The file, reached without links (logged when it cannot be).
FileHandle openFile(const std::filesystem::path& fileURL) {
    std::error_code error;
    FileHandle file = AnnotatedFileOpener().open(fileURL, error);
    if (!file.isValid()) {
        logFailure("reach the comment", fileURL, error);
    }
    return file;
}

std::optional<CommentState> readState(const FileHandle& file,
                                      const std::filesystem::path& fileURL) {
    if (!file.isValid()) {
        return std::nullopt;
    }
    std::error_code error;
    CommentState state;
    state.comment = ExtendedAttributes::get(file.get(), attributeName, error);
    if (error) {
        logFailure("read the comment", fileURL, error);
        return std::nullopt;
    }
    if (state.comment && state.comment->empty()) {
        state.comment.reset();
    }
    const auto marker = ExtendedAttributes::get(file.get(), markerAttributeName, error);
    if (error) {
        logFailure("read the comment marker", fileURL, error);
        return std::nullopt;
    }
    state.hasMarker = marker.has_value();
    state.isOurs = state.comment && marker && *marker == commentDigest(*state.comment);
    return state;
}

} // namespace

std::string commentDigest(std::string_view comment) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char byte : comment) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 0x100000001b3ULL;
    }
    static constexpr char digits[] = "0123456789abcdef";
    std::string text(16, '0');
    for (std::size_t index = text.size(); index-- > 0; hash >>= 4) {
        text[index] = digits[hash & 0xf];
    }
    return text;
}

void syncComment(const std::string& note, const std::filesystem::path& fileURL) {
    if (note.empty()) {
        clearComment(fileURL);
        return;
    }
    const FileHandle file = openFile(fileURL);
    const auto state = readState(file, fileURL);
    if (!state) {
        return;
    }
    if (state->comment && !state->isOurs) {
        ScrivcoreLog::attributes().info(
            "Left the comment the user gave %{private}s in place; the note stays in the store",
            {fileURL.string()});
        return;
    }
    if (state->isOurs && *state->comment == note) {
        return;
    }

    if (const auto error = ExtendedAttributes::set(file.get(), attributeName, note)) {
        logFailure("write the comment", fileURL, error);
        return;
    }
    const auto markerError =
        ExtendedAttributes::set(file.get(), markerAttributeName, commentDigest(note));
    if (!markerError) {
        return;
    }
    logFailure("write the comment marker", fileURL, markerError);

    // The old marker is still in place and matches the old comment, so putting that back
    // restores a consistent state. Should even that fail, no comment beats an unmarked one.
    auto rollbackError = state->comment
                             ? ExtendedAttributes::set(file.get(), attributeName, *state->comment)
                             : ExtendedAttributes::remove(file.get(), attributeName);
    if (rollbackError && state->comment) {
        rollbackError = ExtendedAttributes::remove(file.get(), attributeName);
    }
    if (rollbackError) {
        logFailure("take back the unmarked comment", fileURL, rollbackError);
    }
}

void clearComment(const std::filesystem::path& fileURL) {
    const FileHandle file = openFile(fileURL);
    const auto state = readState(file, fileURL);
    if (!state) {
        return;
    }
    if (state->isOurs) {
        if (const auto error = ExtendedAttributes::remove(file.get(), attributeName)) {
            // Keeping the marker lets a later attempt still recognise the comment as ours.
            logFailure("remove the comment", fileURL, error);
            return;
        }
    }
    if (!state->hasMarker) {
        return;
    }
    if (const auto error = ExtendedAttributes::remove(file.get(), markerAttributeName)) {
        logFailure("remove the comment marker", fileURL, error);
    }
}

std::optional<std::string> readComment(const std::filesystem::path& fileURL) {
    const FileHandle file = openFile(fileURL);
    if (!file.isValid()) {
        return std::nullopt;
    }
    std::error_code error;
    auto comment = ExtendedAttributes::get(file.get(), attributeName, error);
    if (error) {
        logFailure("read the comment", fileURL, error);
        return std::nullopt;
    }
    if (comment && comment->empty()) {
        return std::nullopt;
    }
    return comment;
}

} // namespace FinderCommentSync

} // namespace scrivlet
