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

} // namespace

void markAnnotated(const std::filesystem::path& fileURL, bool flagged) {
    const std::string_view wanted = flagged ? flaggedValue : annotatedValue;
    std::error_code error;
    const auto current = ExtendedAttributes::get(fileURL, name(), error);
    if (error) {
        ScrivcoreLog::attributes().error("Cannot read the badge of %{private}s: %{public}s",
                                         {fileURL.string(), ExtendedAttributes::describe(error)});
        return;
    }
    if (current == wanted) {
        return;
    }
    error = ExtendedAttributes::set(fileURL, name(), wanted);
    if (error) {
        ScrivcoreLog::attributes().error("Cannot badge %{private}s: %{public}s",
                                         {fileURL.string(), ExtendedAttributes::describe(error)});
    }
}

void clearAnnotated(const std::filesystem::path& fileURL) {
    if (const auto error = ExtendedAttributes::remove(fileURL, attributeName)) {
        ScrivcoreLog::attributes().error("Cannot remove the badge of %{private}s: %{public}s",
                                         {fileURL.string(), ExtendedAttributes::describe(error)});
    }
}

std::optional<std::string> badgeValue(const std::filesystem::path& fileURL) {
    std::error_code error;
    auto value = ExtendedAttributes::get(fileURL, attributeName, error);
    if (error) {
        ScrivcoreLog::attributes().error("Cannot read the badge of %{private}s: %{public}s",
                                         {fileURL.string(), ExtendedAttributes::describe(error)});
    }
    return value;
}

} // namespace BadgeXattr

} // namespace scrivlet
