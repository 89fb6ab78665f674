#include "Scrivcore/BadgeXattr.h"

#include "Platform/ExtendedAttributes.h"
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

} // namespace

void markAnnotated(const std::filesystem::path& fileURL, bool flagged) {
    AnnotatedFileOpener files;
    markAnnotated(fileURL, flagged, files);
}

void markAnnotated(const std::filesystem::path& fileURL, bool flagged, AnnotatedFileOpener& files) {
    std::error_code error;
    const FileHandle file = files.open(fileURL, error);
    if (!file.isValid()) {
        logFailure("Cannot badge %{private}s: %{public}s", fileURL, error);
        return;
    }
    const std::string_view wanted = flagged ? flaggedValue : annotatedValue;
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
