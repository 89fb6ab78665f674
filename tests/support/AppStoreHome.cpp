#include "tests/support/AppStoreHome.h"

namespace scrivlet {

AnnotationStore& AppStoreHome::appStore() {
    if (!writer_) {
        writer_ = std::make_unique<AnnotationStore>(AnnotationStore::defaultPath());
    }
    return *writer_;
}

std::string AppStoreHome::file(const std::string& name) {
    return home_.makeFile("Documents/" + name, name).string();
}

std::string AppStoreHome::annotated(const std::string& name, Annotation::Status status) {
    const std::string path = file(name);
    save(path, status);
    return path;
}

void AppStoreHome::save(const std::string& path, Annotation::Status status) {
    Annotation record = appStore().fetch(path).value_or(Annotation::forFile(path, Date()));
    record.status = status;
    appStore().save(record);
}

} // namespace scrivlet
