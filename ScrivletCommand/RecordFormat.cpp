#include "ScrivletCommand/RecordFormat.h"

#include "Scrivcore/TagRules.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace scrivlet::command {

namespace {

using Json = nlohmann::json;

constexpr std::int64_t microsPerSecond = 1'000'000;

std::int64_t micros(Date date) {
    return std::chrono::duration_cast<std::chrono::microseconds>(date.time_since_epoch()).count();
}

bool readInt(std::string_view text, std::size_t at, std::size_t digits, int& out) {
    if (at + digits > text.size()) {
        return false;
    }
    const char* begin = text.data() + at;
    const auto [end, error] = std::from_chars(begin, begin + digits, out);
    return error == std::errc() && end == begin + digits && begin[0] >= '0' && begin[0] <= '9';
}

std::string quotedCsv(const std::string& cell) {
    if (cell.find_first_of(",\"\r\n") == std::string::npos) {
        return cell;
    }
    std::string quoted = "\"";
    for (const char c : cell) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

template <typename T>
std::optional<T> optionalField(const Json& object, const char* name,
                               T (*convert)(const Json&, const char*)) {
    const auto found = object.find(name);
    if (found == object.end() || found->is_null()) {
        return std::nullopt;
    }
    return convert(*found, name);
}

[[noreturn]] void wrongField(const char* name, const std::string& expected) {
    throw std::invalid_argument("\"" + std::string(name) + "\" must be " + expected);
}

int ratingOf(const Json& value, const char* name) {
    if (!value.is_number_integer() || value.get<std::int64_t>() < 0 ||
        value.get<std::int64_t>() > 5) {
        wrongField(name, "a whole number from 0 to 5");
    }
    return value.get<int>();
}

Annotation::Status statusOf(const Json& value, const char* name) {
    const auto status =
        value.is_string() ? statusFromRawValue(value.get<std::string>()) : std::nullopt;
    if (!status) {
        wrongField(name, "one of none, reviewed, flagged, approved, needs-work");
    }
    return *status;
}

std::vector<std::string> tagsOf(const Json& value, const char* name) {
    if (!value.is_array()) {
        wrongField(name, "a list of texts");
    }
    std::vector<std::string> tags;
    for (const Json& tag : value) {
        if (!tag.is_string()) {
            wrongField(name, "a list of texts");
        }
        const std::string text = tag.get<std::string>();
        if (const std::optional<std::string> problem = TagRules::tagProblem(text)) {
            throw std::invalid_argument("the tag " + quotedForMessage(text) + " " + *problem);
        }
        tags.push_back(text);
    }
    return tags;
}

std::string textOf(const Json& value, const char* name) {
    if (!value.is_string()) {
        wrongField(name, "a text");
    }
    return value.get<std::string>();
}

Date dateOf(const Json& value, const char* name) {
    const auto date = value.is_string() ? parseIsoDate(value.get<std::string>()) : std::nullopt;
    if (!date) {
        wrongField(name, "a date such as 2026-11-01T09:30:00.000000Z");
    }
    return *date;
}

} // namespace

std::string quotedForMessage(const std::string& text) {
    return Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string isoDate(Date date) {
    const std::int64_t all = micros(date);
    std::int64_t seconds = all / microsPerSecond;
    std::int64_t fraction = all % microsPerSecond;
    if (fraction < 0) {
        fraction += microsPerSecond;
        --seconds;
    }
    const auto time = static_cast<std::time_t>(seconds);
    std::tm fields{};
    gmtime_r(&time, &fields);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", fields.tm_year + 1900,
                  fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec,
                  static_cast<long long>(fraction));
    return text;
}

std::optional<Date> parseIsoDate(std::string_view text) {
    std::tm fields{};
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (text.size() < 20 || text.back() != 'Z' || !readInt(text, 0, 4, year) || text[4] != '-' ||
        !readInt(text, 5, 2, month) || text[7] != '-' || !readInt(text, 8, 2, day) ||
        text[10] != 'T' || !readInt(text, 11, 2, hour) || text[13] != ':' ||
        !readInt(text, 14, 2, minute) || text[16] != ':' || !readInt(text, 17, 2, second) ||
        month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    int fraction = 0;
    if (text.size() != 20) {
        const std::size_t digits = text.size() - 21;
        if (text[19] != '.' || digits < 1 || digits > 6 || !readInt(text, 20, digits, fraction)) {
            return std::nullopt;
        }
        for (std::size_t i = digits; i < 6; ++i) {
            fraction *= 10;
        }
    }
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    const std::time_t seconds = timegm(&fields);
    return Date(std::chrono::duration_cast<Date::duration>(std::chrono::seconds(seconds) +
                                                           std::chrono::microseconds(fraction)));
}

std::string readableDate(Date date) {
    const std::time_t time = std::chrono::system_clock::to_time_t(date);
    std::tm fields{};
    localtime_r(&time, &fields);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &fields);
    return text;
}

nlohmann::ordered_json recordJson(const Annotation& record) {
    nlohmann::ordered_json json;
    json["path"] = record.path;
    json["rating"] = record.rating;
    json["status"] = std::string(rawValue(record.status));
    json["tags"] = record.tags;
    json["note"] = record.note;
    json["created"] = isoDate(record.createdAt);
    json["modified"] = isoDate(record.modifiedAt);
    return json;
}

ImportedRecord parseImportLine(std::string_view line) {
    const Json object = Json::parse(line, nullptr, false);
    if (object.is_discarded()) {
        throw std::invalid_argument("not JSON");
    }
    if (!object.is_object()) {
        throw std::invalid_argument("not a JSON object");
    }
    ImportedRecord record;
    const auto path = object.find("path");
    if (path == object.end() || !path->is_string() || path->get<std::string>().empty()) {
        throw std::invalid_argument("\"path\" is missing");
    }
    record.path = path->get<std::string>();
    record.rating = optionalField<int>(object, "rating", ratingOf);
    record.status = optionalField<Annotation::Status>(object, "status", statusOf);
    record.tags = optionalField<std::vector<std::string>>(object, "tags", tagsOf);
    record.note = optionalField<std::string>(object, "note", textOf);
    record.created = optionalField<Date>(object, "created", dateOf);
    record.modified = optionalField<Date>(object, "modified", dateOf);
    return record;
}

std::string csvHeader() {
    return "path,rating,status,tags,note,created,modified";
}

std::string csvRow(const Annotation& record) {
    return quotedCsv(record.path) + "," + std::to_string(record.rating) + "," +
           std::string(rawValue(record.status)) + "," + quotedCsv(Json(record.tags).dump()) + "," +
           quotedCsv(record.note) + "," + isoDate(record.createdAt) + "," +
           isoDate(record.modifiedAt);
}

std::string readableRecord(const Annotation& record) {
    std::string text = record.path + "\n";
    text += "  rating:   " + std::string(static_cast<std::size_t>(record.rating), '*') +
            std::string(static_cast<std::size_t>(5 - record.rating), '.') + " (" +
            std::to_string(record.rating) + ")\n";
    text += "  status:   " + std::string(rawValue(record.status)) + "\n";
    std::string tags;
    for (const std::string& tag : record.tags) {
        tags += (tags.empty() ? "" : ", ") + tag;
    }
    text += "  tags:     " + tags + "\n";
    std::string note = record.note;
    for (std::size_t at = note.find('\n'); at != std::string::npos; at = note.find('\n', at + 1)) {
        note.insert(at + 1, "            ");
    }
    text += "  note:     " + note + "\n";
    text += "  created:  " + readableDate(record.createdAt) + "\n";
    text += "  modified: " + readableDate(record.modifiedAt) + "\n";
    return text;
}

} // namespace scrivlet::command
