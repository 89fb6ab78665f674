#include "Scrivcore/Annotation.h"

#include <uuid/uuid.h>

namespace scrivlet {

std::string Annotation::makeID() {
    uuid_t bytes;
    uuid_generate_random(bytes);
    char text[37];
    uuid_unparse_lower(bytes, text);
    return text;
}

Annotation Annotation::forFile(const std::string& path, Date now) {
    Annotation record;
    record.id = makeID();
    record.path = path;
    record.fileName = fileNameOfPath(path);
    record.fileExtension = fileExtensionOfName(record.fileName);
    record.createdAt = now;
    record.modifiedAt = now;
    return record;
}

std::string_view rawValue(Annotation::Status status) {
    switch (status) {
    case Annotation::Status::none:
        return "none";
    case Annotation::Status::reviewed:
        return "reviewed";
    case Annotation::Status::flagged:
        return "flagged";
    case Annotation::Status::approved:
        return "approved";
    case Annotation::Status::needsWork:
        return "needs-work";
    }
    return "none";
}

std::optional<Annotation::Status> statusFromRawValue(std::string_view raw) {
    for (Annotation::Status status : Annotation::allStatuses) {
        if (rawValue(status) == raw) {
            return status;
        }
    }
    return std::nullopt;
}

std::string fileNameOfPath(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    if (path == "/") {
        return "/";
    }
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string fileExtensionOfName(std::string_view fileName) {
    const std::size_t dot = fileName.rfind('.');
    // A leading dot marks a hidden file, not an extension.
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == fileName.size()) {
        return {};
    }
    std::string extension(fileName.substr(dot + 1));
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return extension;
}

} // namespace scrivlet
