#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/AnnotationWriter.h"
#include "Scrivcore/TagRules.h"
#include "ScrivletCommand/RecordFormat.h"
#include "ScrivletCommand/Verbs.h"

#include <fstream>
#include <iostream>

namespace scrivlet::command {

namespace {

struct Tally {
    int created = 0;
    int changed = 0;
    int unchanged = 0;
    int skipped = 0;
};

// The record the line asks for: the stored one (or a new one) with the line's fields over it.
Annotation merged(const std::optional<Annotation>& stored, const ImportedRecord& line,
                  const std::string& key) {
    const Date now = std::chrono::system_clock::now();
    Annotation record = stored.value_or(Annotation::forFile(key, now));
    if (line.rating) {
        record.rating = *line.rating;
    }
    if (line.status) {
        record.status = *line.status;
    }
    if (line.tags) {
        record.tags = TagRules::storedTags(*line.tags);
    }
    if (line.note) {
        record.note = *line.note;
    }
    if (line.created) {
        record.createdAt = *line.created;
    }
    record.modifiedAt = line.modified.value_or(now);
    return record;
}

bool sameContent(const Annotation& a, const Annotation& b) {
    return a.rating == b.rating && a.status == b.status && a.tags == b.tags && a.note == b.note &&
           a.createdAt == b.createdAt;
}

class Importer {
public:
    Importer(AnnotationStore& store, bool dryRun) : store_(store), dryRun_(dryRun) {}

    void line(std::size_t number, const std::string& text) {
        if (text.find_first_not_of(" \t\r") == std::string::npos) {
            return;
        }
        ImportedRecord imported;
        try {
            imported = parseImportLine(text);
        } catch (const std::invalid_argument& error) {
            skip("line " + std::to_string(number) + ": " + error.what() + "; skipped");
            return;
        }
        const std::string key = recordKey(imported.path);
        if (!fileExists(key)) {
            skip("line " + std::to_string(number) + ": " + imported.path +
                 ": no such file; skipped");
            return;
        }
        const std::optional<Annotation> stored = store_.fetch(key);
        Annotation record = merged(stored, imported, key);
        if (stored && sameContent(*stored, record)) {
            ++tally_.unchanged;
            return;
        }
        const char* verb = stored ? "change" : "create";
        if (dryRun_) {
            std::cout << "would " << verb << " " << key << "\n";
        } else if (!save(number, record)) {
            return;
        }
        ++(stored ? tally_.changed : tally_.created);
    }

    const Tally& tally() const { return tally_; }

private:
    bool save(std::size_t number, Annotation& record) {
        try {
            AnnotationWriter::save(store_, record);
            return true;
        } catch (const StoreError& error) {
            if (error.kind() != StoreError::Kind::invalidRecord) {
                throw;
            }
            skip("line " + std::to_string(number) + ": " + error.what() + "; skipped");
            return false;
        }
    }

    void skip(const std::string& message) {
        complain(message);
        ++tally_.skipped;
    }

    AnnotationStore& store_;
    bool dryRun_;
    Tally tally_;
};

} // namespace

int importVerb(Arguments& arguments) {
    bool dryRun = false;
    std::optional<std::string> source;
    while (!arguments.done()) {
        if (arguments.atOption()) {
            const std::string option = arguments.take();
            if (option != "--dry-run") {
                throw UsageError("unknown option " + option);
            }
            dryRun = true;
        } else if (source) {
            throw UsageError("import reads one file");
        } else {
            source = arguments.take();
        }
    }
    if (!source) {
        throw UsageError("name the file to import, or - for standard input");
    }
    std::ifstream file;
    if (*source != "-") {
        file.open(*source, std::ios::binary);
        if (!file) {
            complain("cannot read " + *source);
            return exitRefused;
        }
    }
    std::istream& input = *source == "-" ? std::cin : file;
    const auto store = openStore(dryRun ? StoreUse::read : StoreUse::write);
    Importer importer(*store, dryRun);
    std::string text;
    for (std::size_t number = 1; std::getline(input, text); ++number) {
        importer.line(number, text);
    }
    const Tally& tally = importer.tally();
    std::cout << (dryRun ? "would import: " : "imported: ") << tally.created << " new, "
              << tally.changed << " changed, " << tally.unchanged << " unchanged, " << tally.skipped
              << " skipped\n";
    return tally.skipped > 0 ? exitRefused : exitOK;
}

} // namespace scrivlet::command
