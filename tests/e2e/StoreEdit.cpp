// Plays the app's panel for the end-to-end scripts, which cannot type into it from outside:
// writes a record the way a panel save does (store, then the file's attributes, then the
// badge notice), and reads back what the app wrote on a file.
//   store-edit save PATH STATUS NOTE [TAG...]   saves the record of PATH
//   store-edit attributes PATH                  "badge=B comment=C tags=T" ("none" when unset)
// The store is the default one of the environment (XDG_DATA_HOME or SCRIVLET_CONTAINER).
#include "Platform/base/Clock.h"
#include "Scrivcore/Annotation.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeRefreshNotifier.h"
#include "Scrivcore/BadgeXattr.h"
#include "Scrivcore/FinderCommentSync.h"
#include "Scrivcore/FinderTagSync.h"

#include <chrono>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

using namespace scrivlet;

namespace {

Date now() {
    return std::chrono::system_clock::now();
}

int save(const std::string& path, const std::string& statusName, const std::string& note,
         std::vector<std::string> tags) {
    const auto status = statusFromRawValue(statusName);
    if (!status) {
        std::cerr << "store-edit: unknown status " << statusName << '\n';
        return 2;
    }
    AnnotationStore store(AnnotationStore::defaultPath());
    Annotation record = store.fetch(path).value_or(Annotation::forFile(path, now()));
    record.status = *status;
    record.note = note;
    record.tags = std::move(tags);
    record.modifiedAt = now();
    store.save(record);
    BadgeXattr::markAnnotated(path, record.isFlagged());
    FinderCommentSync::syncComment(record.note, path);
    record.syncedTags = FinderTagSync::syncTags(record.tags, record.syncedTags, path);
    store.save(record);
    return BadgeRefreshNotifier::notifyChange(path) ? 0 : 1;
}

int attributes(const std::string& path) {
    std::string tags;
    for (const std::string& tag : FinderTagSync::readTags(path)) {
        tags += (tags.empty() ? "" : ",") + tag;
    }
    std::cout << "badge=" << BadgeXattr::badgeValue(path).value_or("none")
              << " comment=" << FinderCommentSync::readComment(path).value_or("none")
              << " tags=" << (tags.empty() ? "none" : tags) << '\n';
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        if (arguments.size() >= 4 && arguments[0] == "save") {
            return save(arguments[1], arguments[2], arguments[3],
                        {arguments.begin() + 4, arguments.end()});
        }
        if (arguments.size() == 2 && arguments[0] == "attributes") {
            return attributes(arguments[1]);
        }
    } catch (const std::exception& error) {
        std::cerr << "store-edit: " << error.what() << '\n';
        return 1;
    }
    std::cerr << "usage: store-edit save PATH STATUS NOTE [TAG...] | attributes PATH\n";
    return 2;
}
