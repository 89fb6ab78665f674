#include "Platform/base/URL.h"

#include <uriparser/Uri.h>
#include <vector>

namespace scrivlet {

namespace {

std::optional<std::string> rangeText(const UriTextRangeA& range) {
    if (range.first == nullptr) {
        return std::nullopt;
    }
    return std::string(range.first, range.afterLast);
}

std::string pathText(const UriUriA& uri) {
    std::string path;
    for (const UriPathSegmentA* segment = uri.pathHead; segment; segment = segment->next) {
        if (segment != uri.pathHead || uri.absolutePath || uri.hostText.first != nullptr) {
            path += '/';
        }
        path += rangeText(segment->text).value_or("");
    }
    return path;
}

} // namespace

std::optional<URL> URL::fromString(std::string_view text) {
    const std::string owned(text);
    UriUriA uri;
    const char* errorPosition = nullptr;
    if (uriParseSingleUriExA(&uri, owned.data(), owned.data() + owned.size(), &errorPosition) !=
        URI_SUCCESS) {
        return std::nullopt;
    }
    URL url;
    url.absoluteString_ = owned;
    url.scheme_ = rangeText(uri.scheme);
    url.host_ = rangeText(uri.hostText);
    url.path_ = pathText(uri);
    url.query_ = rangeText(uri.query);
    uriFreeUriMembersA(&uri);
    return url;
}

URL URL::fileURL(const std::filesystem::path& path) {
    const std::string text = path.string();
    // uriparser writes at most 3x the input for a Unix file name, plus "file://" and NUL.
    std::vector<char> buffer(7 + 3 * text.size() + 1);
    uriUnixFilenameToUriStringA(text.c_str(), buffer.data());
    return *fromString(buffer.data());
}

std::optional<std::filesystem::path> URL::fileSystemPath() const {
    if (!isFileURL()) {
        return std::nullopt;
    }
    // An escaped NUL would end the decoded path early and name another file.
    if (absoluteString_.find("%00") != std::string::npos) {
        return std::nullopt;
    }
    // Decoding never makes the text longer.
    std::vector<char> buffer(absoluteString_.size() + 1);
    if (uriUriStringToUnixFilenameA(absoluteString_.c_str(), buffer.data()) != URI_SUCCESS) {
        return std::nullopt;
    }
    return std::filesystem::path(buffer.data());
}

} // namespace scrivlet
