#include "Scrivcore/FinderTagSync.h"

#include "Platform/system/ExtendedAttributes.h"
#include "Scrivcore/AnnotatedFileOpener.h"
#include "Scrivcore/ScrivcoreLog.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <utf8proc.h>

namespace scrivlet {

namespace FinderTagSync {

namespace {

constexpr char separator = ',';

// Text that is not valid UTF-8 (or holds a NUL, which utf8proc would cut at) is compared as
// the bytes it is: another program may have written anything into the attribute.
std::string normalized(const std::string& text) {
    if (text.find('\0') != std::string::npos) {
        return text;
    }
    utf8proc_uint8_t* composed =
        utf8proc_NFC(reinterpret_cast<const utf8proc_uint8_t*>(text.c_str()));
    if (composed == nullptr) {
        return text;
    }
    std::string result(reinterpret_cast<const char*>(composed));
    std::free(composed);
    return result;
}

bool isWritable(const std::string& tag) {
    return !tag.empty() && tag.find(separator) == std::string::npos &&
           tag.find('\0') == std::string::npos;
}

bool contains(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// Empty entries (",," or a trailing comma left by other tools) carry no tag.
std::vector<std::string> split(const std::string& value) {
    std::vector<std::string> entries;
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t end = value.find(separator, start);
        if (end == std::string::npos) {
            end = value.size();
        }
        if (end > start) {
            entries.push_back(value.substr(start, end - start));
        }
        start = end + 1;
    }
    return entries;
}

std::string join(const std::vector<std::string>& entries) {
    std::string value;
    for (const auto& entry : entries) {
        if (!value.empty()) {
            value += separator;
        }
        value += entry;
    }
    return value;
}

std::vector<std::string> normalizedAll(const std::vector<std::string>& tags) {
    std::vector<std::string> result;
    for (const auto& tag : tags) {
        auto tagNFC = normalized(tag);
        if (!contains(result, tagNFC)) {
            result.push_back(std::move(tagNFC));
        }
    }
    return result;
}

void logFailure(const char* format, const std::filesystem::path& fileURL,
                const std::error_code& error) {
    ScrivcoreLog::attributes().error(format,
                                     {fileURL.string(), ExtendedAttributes::describe(error)});
}

// The file, reached without links (logged when it cannot be).
FileHandle openFile(const std::filesystem::path& fileURL) {
    std::error_code error;
    FileHandle file = AnnotatedFileOpener().open(fileURL, error);
    if (!file.isValid()) {
        logFailure("Cannot reach the tags of %{private}s: %{public}s", fileURL, error);
    }
    return file;
}

// The file's entries, or nullopt (logged) when they cannot be read.
std::optional<std::vector<std::string>> readEntries(const FileHandle& file,
                                                    const std::filesystem::path& fileURL) {
    if (!file.isValid()) {
        return std::nullopt;
    }
    std::error_code error;
    const auto value = ExtendedAttributes::get(file.get(), attributeName, error);
    if (error) {
        logFailure("Cannot read the tags of %{private}s: %{public}s", fileURL, error);
        return std::nullopt;
    }
    return value ? split(*value) : std::vector<std::string>();
}

// One write, so a failure leaves the file exactly as it was.
bool writeEntries(const std::vector<std::string>& entries, const FileHandle& file,
                  const std::filesystem::path& fileURL) {
    const auto error = entries.empty()
                           ? ExtendedAttributes::remove(file.get(), attributeName)
                           : ExtendedAttributes::set(file.get(), attributeName, join(entries));
    if (error) {
        logFailure("Cannot write the tags of %{private}s: %{public}s", fileURL, error);
        return false;
    }
    return true;
}

} // namespace

std::vector<std::string> syncTags(const std::vector<std::string>& tags,
                                  const std::vector<std::string>& previouslySynced,
                                  const std::filesystem::path& fileURL) {
    std::vector<std::string> wanted;
    for (const auto& tag : normalizedAll(tags)) {
        if (isWritable(tag)) {
            wanted.push_back(tag);
        } else {
            ScrivcoreLog::attributes().info(
                "Tag %{private}s stays in the store only: the file's tag list cannot hold it",
                {tag});
        }
    }
    const auto previous = normalizedAll(previouslySynced);

    const FileHandle file = openFile(fileURL);
    const auto current = readEntries(file, fileURL);
    if (!current) {
        return previouslySynced;
    }

    // Entries keep the spelling they have on the file; only our own leftovers go.
    std::vector<std::string> entries;
    std::vector<std::string> present;
    for (const auto& entry : *current) {
        const auto entryNFC = normalized(entry);
        if (contains(previous, entryNFC) && !contains(wanted, entryNFC)) {
            continue;
        }
        entries.push_back(entry);
        present.push_back(entryNFC);
    }

    std::vector<std::string> owned;
    for (const auto& tag : wanted) {
        if (!contains(present, tag)) {
            entries.push_back(tag);
            owned.push_back(tag);
        } else if (contains(previous, tag)) {
            owned.push_back(tag);
        }
    }

    if (entries != *current && !writeEntries(entries, file, fileURL)) {
        return previouslySynced;
    }
    return owned;
}

void clearSyncedTags(const std::vector<std::string>& syncedTags,
                     const std::filesystem::path& fileURL) {
    const FileHandle file = openFile(fileURL);
    const auto current = readEntries(file, fileURL);
    if (!current || current->empty()) {
        return;
    }
    const auto synced = normalizedAll(syncedTags);
    std::vector<std::string> entries;
    for (const auto& entry : *current) {
        if (!contains(synced, normalized(entry))) {
            entries.push_back(entry);
        }
    }
    if (entries != *current) {
        writeEntries(entries, file, fileURL);
    }
}

std::vector<std::string> readTags(const std::filesystem::path& fileURL) {
    return readEntries(openFile(fileURL), fileURL).value_or(std::vector<std::string>());
}

} // namespace FinderTagSync

} // namespace scrivlet
