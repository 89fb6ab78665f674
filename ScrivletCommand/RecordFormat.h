#pragma once

#include "Scrivcore/Annotation.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scrivlet::command {

// Dates as the tool writes and reads them: UTC, ISO 8601, to the microsecond the store keeps
// ("2026-11-01T09:30:00.000000Z"). Reading also takes a date without the fraction.
std::string isoDate(Date date);
std::optional<Date> parseIsoDate(std::string_view text);
// In local time to the minute, for people.
std::string readableDate(Date date);

// One record as `show --json` and `export` print it: path, rating, status, tags, note,
// created, modified.
nlohmann::ordered_json recordJson(const Annotation& record);

// The fields of one line of an import; a field the line leaves out is not changed.
struct ImportedRecord {
    std::string path;
    std::optional<int> rating;
    std::optional<Annotation::Status> status;
    std::optional<std::vector<std::string>> tags;
    std::optional<std::string> note;
    std::optional<Date> created;
    std::optional<Date> modified;
};
// Throws std::invalid_argument saying what is wrong with the line.
ImportedRecord parseImportLine(std::string_view line);

// `text` in double quotes with control characters escaped and stray bytes shown as U+FFFD, so
// a message about it stays one readable line.
std::string quotedForMessage(const std::string& text);

// The CSV export: a header, then a row per record, quoted as RFC 4180 says; the tags cell
// holds the tag list as JSON, which no tag can break.
std::string csvHeader();
std::string csvRow(const Annotation& record);

// A record for people: the path, then one indented line per field.
std::string readableRecord(const Annotation& record);

} // namespace scrivlet::command
