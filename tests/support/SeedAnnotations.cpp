// Stands in for the user in end-to-end checks: annotates files through the panel's own save
// path (so each record gets its bookmark, badge and notice as a real save would), and reads
// back what the store and the files hold.
//
//   scrivlet-seed annotate [--flagged] PATH...   save a record for each file
//   scrivlet-seed show PATH                      "flagged", "annotated" or "none"
//   scrivlet-seed badge PATH                     the file's badge attribute, or "none"
//   scrivlet-seed clear-badge PATH               takes the badge attribute off
//   scrivlet-seed bulk COUNT FOLDER              COUNT files in FOLDER, annotated in one go
//   scrivlet-seed set PATH FIELD VALUE...        changes rating, status, note or adds a tag
//                                                (field "tag") and saves, as another
//                                                program writing beside the app would
#include "Platform/system/FileBookmark.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeXattr.h"
#include "Scrivcore/PanelViewModel.h"
#include "tests/support/ManualScheduler.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

std::shared_ptr<AnnotationStore> openStore() {
    return std::make_shared<AnnotationStore>(AnnotationStore::defaultPath());
}

int annotate(const std::vector<std::string>& args) {
    bool flagged = false;
    ManualScheduler scheduler;
    PanelViewModel model(openStore(), scheduler);
    for (const std::string& arg : args) {
        if (arg == "--flagged") {
            flagged = true;
            continue;
        }
        model.beginAnnotation(fs::absolute(arg));
        if (flagged) {
            model.editAnnotation(
                [](Annotation& record) { record.status = Annotation::Status::flagged; });
            model.scheduleSave();
            model.saveNow();
        }
        flagged = false;
    }
    return model.hasUnsavedChanges() ? 1 : 0;
}

bool setField(Annotation& record, const std::string& field, const std::string& value) {
    if (field == "rating") {
        record.rating = std::stoi(value);
    } else if (field == "status") {
        const auto status = statusFromRawValue(value);
        if (!status) {
            return false;
        }
        record.status = *status;
    } else if (field == "note") {
        record.note = value;
    } else if (field == "tag") {
        record.tags.push_back(value);
    } else {
        return false;
    }
    return true;
}

int set(const std::vector<std::string>& args) {
    ManualScheduler scheduler;
    PanelViewModel model(openStore(), scheduler);
    model.selectFile(fs::absolute(args[0]));
    bool understood = true;
    for (std::size_t i = 1; i + 1 < args.size(); i += 2) {
        model.editAnnotation([&](Annotation& record) {
            understood = setField(record, args[i], args[i + 1]) && understood;
        });
    }
    if (!understood || args.size() % 2 == 0) {
        std::cerr
            << "scrivlet-seed set: fields are rating, status, note and tag, each with a value\n";
        return 2;
    }
    model.scheduleSave();
    model.saveNow();
    return model.hasUnsavedChanges() ? 1 : 0;
}

int show(const std::string& path) {
    const std::optional<Annotation> record = openStore()->fetch(path);
    std::cout << (!record ? "none" : record->isFlagged() ? "flagged" : "annotated") << "\n";
    return 0;
}

// Files in folders of a hundred, as a large collection would spread them.
int bulk(int count, const fs::path& folder) {
    std::vector<Annotation> records;
    records.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const fs::path file =
            folder / ("folder-" + std::to_string(i / 100)) / ("file-" + std::to_string(i) + ".txt");
        fs::create_directories(file.parent_path());
        std::ofstream(file) << i;
        Annotation record = Annotation::forFile(file.string(), SystemClock::shared().now());
        record.status = i % 5 == 0 ? Annotation::Status::flagged : Annotation::Status::reviewed;
        std::error_code error;
        record.bookmarkData = FileBookmark::create(file, error);
        BadgeXattr::markAnnotated(file, record.isFlagged());
        records.push_back(std::move(record));
    }
    openStore()->saveAll(records);
    return 0;
}

int run(const std::vector<std::string>& args) {
    const std::string command = args.empty() ? "" : args[0];
    if (command == "annotate" && args.size() > 1) {
        return annotate({args.begin() + 1, args.end()});
    }
    if (command == "show" && args.size() == 2) {
        return show(args[1]);
    }
    if (command == "badge" && args.size() == 2) {
        std::cout << BadgeXattr::badgeValue(args[1]).value_or("none") << "\n";
        return 0;
    }
    if (command == "clear-badge" && args.size() == 2) {
        BadgeXattr::clearAnnotated(args[1]);
        return 0;
    }
    if (command == "set" && args.size() > 2) {
        return set({args.begin() + 1, args.end()});
    }
    if (command == "bulk" && args.size() == 3) {
        return bulk(std::stoi(args[1]), args[2]);
    }
    std::cerr << "usage: scrivlet-seed annotate [--flagged] PATH... | show PATH | badge PATH |"
                 " clear-badge PATH | bulk COUNT FOLDER | set PATH FIELD VALUE...\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run({argv + 1, argv + argc});
    } catch (const std::exception& error) {
        std::cerr << "scrivlet-seed: " << error.what() << "\n";
        return 1;
    }
}
