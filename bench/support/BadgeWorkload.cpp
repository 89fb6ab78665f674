#include "bench/support/BadgeWorkload.h"

#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeRefreshNotifier.h"

#include <chrono>
#include <unistd.h>
#include <vector>

namespace scrivlet::bench {

std::string badgePathOf(std::size_t index) {
    return "/home/user/Documents/project-" + std::to_string(index % 97) + "/file-" +
           std::to_string(index) + ".txt";
}

void fillBadgeStore(std::size_t count) {
    AnnotationStore store(AnnotationStore::defaultPath());
    std::vector<Annotation> records;
    records.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        Annotation record = Annotation::forFile(badgePathOf(i), Date());
        record.tags = {"work", "q3"};
        record.note = "A note of ordinary length for file " + std::to_string(i);
        record.status = i % 5 == 0 ? Annotation::Status::flagged : Annotation::Status::reviewed;
        records.push_back(std::move(record));
    }
    store.saveAll(records);
}

void runBadgeWriter(int requests, int saved, const std::string& path) {
    AnnotationStore store(AnnotationStore::defaultPath());
    Annotation record = Annotation::forFile(path, Date());
    char byte = 0;
    bool flagged = false;
    while (::read(requests, &byte, 1) == 1) {
        flagged = !flagged;
        record.status = flagged ? Annotation::Status::flagged : Annotation::Status::reviewed;
        store.save(record);
        const auto committed = std::chrono::steady_clock::now().time_since_epoch().count();
        BadgeRefreshNotifier::notifyChange(path);
        if (::write(saved, &committed, sizeof committed) != sizeof committed) {
            break;
        }
    }
    ::_exit(0);
}

} // namespace scrivlet::bench
