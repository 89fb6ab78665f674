#pragma once

#include "Scrivcore/Annotation.h"
#include "Scrivcore/AnnotationStore.h"
#include "tests/support/TempHome.h"

#include <memory>
#include <string>

namespace scrivlet {

// A temporary home whose files the app annotates, for the tests of an extension that reads
// what the app wrote: files made in Documents/, records saved through the app's own store.
class AppStoreHome {
public:
    TempHome& home() { return home_; }
    // The app's store, opened on first use.
    AnnotationStore& appStore();
    // The app lets go of its store (a test that makes it unreadable, or removes it).
    void closeAppStore() { writer_.reset(); }

    // Documents/NAME, holding its name.
    std::string file(const std::string& name);
    // Such a file with a record of `status`.
    std::string annotated(const std::string& name,
                          Annotation::Status status = Annotation::Status::reviewed);
    // Saves the record of `path` with `status`, making it when there is none.
    void save(const std::string& path, Annotation::Status status);

private:
    TempHome home_;
    std::unique_ptr<AnnotationStore> writer_; // before the home goes
};

} // namespace scrivlet
