#include "Scrivcore/AnnotationStore.h"
#include "ScrivletCommand/RecordFormat.h"
#include "ScrivletCommand/Verbs.h"

#include <iostream>

namespace scrivlet::command {

int showVerb(Arguments& arguments) {
    bool json = false;
    std::vector<std::string> files;
    while (!arguments.done()) {
        if (!arguments.atOption()) {
            files.push_back(arguments.take());
            continue;
        }
        const std::string option = arguments.take();
        if (option != "--json") {
            throw UsageError("unknown option " + option);
        }
        json = true;
    }
    if (files.empty()) {
        throw UsageError("name at least one file");
    }
    const auto store = openStore(StoreUse::read);
    int status = exitOK;
    for (const std::string& file : files) {
        const std::string key = recordKey(file);
        const std::optional<Annotation> record = store->fetch(key);
        if (!record && !fileExists(key)) {
            complain(file + ": no such file");
            status = exitRefused;
            continue;
        }
        if (json) {
            std::cout << (record ? recordJson(*record).dump(
                                       -1, ' ', false, nlohmann::json::error_handler_t::replace)
                                 : "null")
                      << "\n";
        } else if (record) {
            std::cout << readableRecord(*record);
        } else {
            std::cout << key << "\n  no annotation\n";
        }
    }
    return status;
}

} // namespace scrivlet::command
