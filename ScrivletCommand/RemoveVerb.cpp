#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/AnnotationWriter.h"
#include "ScrivletCommand/Verbs.h"

namespace scrivlet::command {

int removeVerb(Arguments& arguments) {
    std::vector<std::string> files;
    while (!arguments.done()) {
        if (arguments.atOption()) {
            throw UsageError("unknown option " + arguments.take());
        }
        files.push_back(arguments.take());
    }
    if (files.empty()) {
        throw UsageError("name at least one file");
    }
    const auto store = openStore(StoreUse::write);
    int status = exitOK;
    for (const std::string& file : files) {
        // The record of a file that is gone can still be removed: that is often why.
        if (!AnnotationWriter::remove(*store, recordKey(file))) {
            complain(file + ": has no annotation");
            status = exitRefused;
        }
    }
    return status;
}

} // namespace scrivlet::command
