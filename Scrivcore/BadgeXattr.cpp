#include "Scrivcore/BadgeXattr.h"

#include "Platform/system/ExtendedAttributes.h"
#include "Scrivcore/ScrivcoreLog.h"

namespace scrivlet {

namespace BadgeXattr {

namespace {

// Made once: the launch sync reads the attribute of every annotated file.
const std::string& name() {
    static const std::string text(attributeName);
    return text;
}

void logFailure(const char* format, const std::filesystem::path& fileURL,
                const std::error_code& error) {
    ScrivcoreLog::attributes().error(format,
                                     {fileURL.string(), ExtendedAttributes::describe(error)});
}

// Reads first: at a launch with nothing changed, no file is written.
void markOpenFile(const std::filesystem::path& fileURL, bool flagged, const FileHandle& file) {
    const std::string_view wanted = flagged ? flaggedValue : annotatedValue;
    std::error_code error;
    const auto current = ExtendedAttributes::get(file.get(), name(), error);
    if (error) {
        logFailure("Cannot read the badge of %{private}s: %{public}s", fileURL, error);
        return;
    }
    if (current == wanted) {
        return;
    }
    error = ExtendedAttributes::set(file.get(), name(), wanted);
    if (error) {
        logFailure("Cannot badge %{private}s: %{public}s", fileURL, error);
    }
}

} // namespace

void markAnnotated(const std::filesystem::path& fileURL, bool flagged) {
    std::error_code error;
    const FileHandle file = AnnotatedFileOpener().open(fileURL, error);
    if (!file.isValid()) {
        logFailure("Cannot badge %{private}s: %{public}s", fileURL, error);
        return;
    }
    markOpenFile(fileURL, flagged, file);
}

void markAnnotatedIfPresent(const std::filesystem::path& fileURL, bool flagged,
                            AnnotatedFileOpener& files) {
    // Most badges are right already: a read that opens no file settles those.
    std::error_code error;
    const auto current = files.read(fileURL, name(), error);
    if (AnnotatedFileOpener::isMissing(error)) {
        return;
    }
    if (error) {
        logFailure("Cannot read the badge of %{private}s: %{public}s", fileURL, error);
        return;
    }
    if (current == (flagged ? flaggedValue : annotatedValue)) {
        return;
    }
    const FileHandle file = files.open(fileURL, error);
    if (!file.isValid()) {
        logFailure("Cannot badge %{private}s: %{public}s", fileURL, error);
        return;
    }
    markOpenFile(fileURL, flagged, file);
}

void clearAnnotated(const std::filesystem::path& fileURL) {
    std::error_code error;
    const FileHandle file = AnnotatedFileOpener().open(fileURL, error);
    if (file.isValid()) {
        error = ExtendedAttributes::remove(file.get(), name());
    }
    if (error) {
        logFailure("Cannot remove the badge of %{private}s: %{public}s", fileURL, error);
    }
}

std::optional<std::string> badgeValue(const std::filesystem::path& fileURL) {
    std::error_code error;
    std::optional<std::string> value;
    const FileHandle file = AnnotatedFileOpener().open(fileURL, error);
    if (file.isValid()) {
        value = ExtendedAttributes::get(file.get(), name(), error);
    }
    if (error) {
        logFailure("Cannot read the badge of %{private}s: %{public}s", fileURL, error);
    }
    return value;
}

} // namespace BadgeXattr

} // namespace scrivlet
