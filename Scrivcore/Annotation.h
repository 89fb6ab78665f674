#pragma once

#include "Platform/base/Clock.h"
#include "Scrivcore/Export.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scrivlet {

// One file's annotation. Fields are declared in the order the store keeps them.
struct SCRIVCORE_API Annotation {
    enum class Status { none, reviewed, flagged, approved, needsWork };
    static constexpr std::array<Status, 5> allStatuses{
        Status::none, Status::reviewed, Status::flagged, Status::approved, Status::needsWork};

    // Stable identity of the record (a random UUID), unchanged when the file moves and the
    // record is re-keyed to its new path.
    std::string id;
    // Absolute path of the file: the store key.
    std::string path;
    // Display name: the last component of `path`.
    std::string fileName;
    // Lower-case extension of `fileName` without the dot ("" when it has none), kept so
    // stored records can be grouped by kind without parsing paths.
    std::string fileExtension;
    std::string note;
    std::vector<std::string> tags;
    int rating = 0; // 0 to 5 stars
    Status status = Status::none;
    // Tags that Scrivcore itself wrote to the file's tag attribute; only these are ever
    // removed from the file again.
    std::vector<std::string> syncedTags;
    std::optional<std::vector<std::uint8_t>> bookmarkData;
    Date createdAt;
    Date modifiedAt;

    // A fresh record for the file at `path` (absolute), created and modified `now`.
    static Annotation forFile(const std::string& path, Date now);
    // A new random record id.
    static std::string makeID();

    bool isFlagged() const { return status == Status::flagged; }

    friend bool operator==(const Annotation&, const Annotation&) = default;
};

// Raw values as stored and shown: "none", "reviewed", "flagged", "approved", "needs-work".
SCRIVCORE_API std::string_view rawValue(Annotation::Status status);
SCRIVCORE_API std::optional<Annotation::Status> statusFromRawValue(std::string_view raw);

// Last path component and its lower-case extension, as the record keeps them.
SCRIVCORE_API std::string fileNameOfPath(std::string_view path);
SCRIVCORE_API std::string fileExtensionOfName(std::string_view fileName);

} // namespace scrivlet
