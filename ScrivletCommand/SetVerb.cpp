#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/AnnotationWriter.h"
#include "Scrivcore/TagRules.h"
#include "ScrivletCommand/RecordFormat.h"
#include "ScrivletCommand/Verbs.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace scrivlet::command {

namespace {

struct Changes {
    std::optional<int> rating;
    std::optional<Annotation::Status> status;
    std::optional<std::string> note;
    std::vector<std::string> added;
    std::vector<std::string> removed;
    bool clearTags = false;

    bool any() const {
        return rating || status || note || !added.empty() || !removed.empty() || clearTags;
    }

    void applyTo(Annotation& record) const {
        if (rating) {
            record.rating = *rating;
        }
        if (status) {
            record.status = *status;
        }
        if (note) {
            record.note = *note;
        }
        if (clearTags) {
            record.tags.clear();
        }
        if (clearTags || !added.empty() || !removed.empty()) {
            record.tags = TagRules::edited(record.tags, added, removed);
        }
    }
};

std::string readNoteFile(const std::string& name) {
    std::ostringstream text;
    if (name == "-") {
        text << std::cin.rdbuf();
        return text.str();
    }
    std::ifstream file(name, std::ios::binary);
    if (!file) {
        throw UsageError("cannot read the note file " + name);
    }
    text << file.rdbuf();
    return text.str();
}

// A tag to add must be one the panel would take. One to remove need only be non-blank: a
// tag an older writer stored may hold what is refused today, and must still be removable.
std::string tagArgument(Arguments& arguments, const std::string& option) {
    std::string value = arguments.takeValue(option);
    const std::optional<std::string> problem = TagRules::tagProblem(value);
    if (problem && (option == "--tag" || TagRules::storedTags({value}).empty())) {
        throw UsageError(option + " " + quotedForMessage(value) + ": the tag " + *problem +
                         "; nothing was written");
    }
    return value;
}

void readOption(const std::string& option, Arguments& arguments, Changes& changes) {
    if (option == "--rating") {
        const std::string value = arguments.takeValue(option);
        changes.rating = parseRating(value);
        if (!changes.rating) {
            throw UsageError("a rating is a whole number from 0 to 5, not '" + value + "'");
        }
    } else if (option == "--status") {
        const std::string value = arguments.takeValue(option);
        changes.status = statusFromRawValue(value);
        if (!changes.status) {
            throw UsageError("unknown status '" + value +
                             "'; the statuses are none, reviewed, flagged, approved, needs-work");
        }
    } else if (option == "--note" || option == "--note-file") {
        if (changes.note) {
            throw UsageError("give the note once, with --note or --note-file");
        }
        const std::string value = arguments.takeValue(option);
        changes.note = option == "--note" ? value : readNoteFile(value);
    } else if (option == "--tag") {
        changes.added.push_back(tagArgument(arguments, option));
    } else if (option == "--untag") {
        changes.removed.push_back(tagArgument(arguments, option));
    } else if (option == "--clear-tags") {
        changes.clearTags = true;
    } else {
        throw UsageError("unknown option " + option);
    }
}

} // namespace

int setVerb(Arguments& arguments) {
    Changes changes;
    std::vector<std::string> files;
    while (!arguments.done()) {
        if (arguments.atOption()) {
            const std::string option = arguments.take();
            readOption(option, arguments, changes);
        } else {
            files.push_back(arguments.take());
        }
    }
    if (files.empty()) {
        throw UsageError("name at least one file");
    }
    if (!changes.any()) {
        throw UsageError("nothing to set: give --rating, --status, --note, --tag, --untag "
                         "or --clear-tags");
    }
    const auto store = openStore(StoreUse::write);
    int status = exitOK;
    for (const std::string& file : files) {
        const std::string key = recordKey(file);
        if (!fileExists(key)) {
            complain(file + ": no such file; nothing was written for it");
            status = exitRefused;
            continue;
        }
        try {
            AnnotationWriter::update(*store, key, [&changes](Annotation& record) {
                changes.applyTo(record);
                record.modifiedAt = std::chrono::system_clock::now();
            });
        } catch (const StoreError& error) {
            if (error.kind() != StoreError::Kind::invalidRecord) {
                throw;
            }
            complain(file + ": " + error.what());
            status = exitRefused;
        }
    }
    return status;
}

} // namespace scrivlet::command
