#pragma once

#include "Platform/base/Export.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace scrivlet {

// A URL as RFC 3986 reads it. Components are kept as written (percent-encoded).
class SCRIVLET_PLATFORM_API URL {
public:
    // Nothing when `text` is not a URL.
    static std::optional<URL> fromString(std::string_view text);
    // file:// URL of an absolute path, percent-encoded where needed.
    static URL fileURL(const std::filesystem::path& path);

    const std::string& absoluteString() const { return absoluteString_; }
    const std::optional<std::string>& scheme() const { return scheme_; }
    const std::optional<std::string>& host() const { return host_; }
    const std::string& path() const { return path_; }
    const std::optional<std::string>& query() const { return query_; }
    bool isFileURL() const { return scheme_ == "file"; }
    // The decoded path of a file URL; nothing for other URLs.
    std::optional<std::filesystem::path> fileSystemPath() const;

    friend bool operator==(const URL& a, const URL& b) {
        return a.absoluteString_ == b.absoluteString_;
    }

private:
    std::string absoluteString_;
    std::optional<std::string> scheme_;
    std::optional<std::string> host_;
    std::string path_;
    std::optional<std::string> query_;
};

} // namespace scrivlet
