#include "Scrivcore/AnnotationStore.h"
#include "ScrivletCommand/Verbs.h"

#include <charconv>
#include <cstdlib>
#include <iostream>

namespace scrivlet::command {

namespace {

std::optional<std::chrono::milliseconds> waitFromEnvironment() {
    const char* text = std::getenv("SCRIVLET_STORE_WAIT");
    if (text == nullptr) {
        return std::nullopt;
    }
    const std::string_view value(text);
    long milliseconds = 0;
    const auto [end, error] =
        std::from_chars(value.data(), value.data() + value.size(), milliseconds);
    if (error != std::errc() || end != value.data() + value.size() || milliseconds < 0) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(milliseconds);
}

} // namespace

std::unique_ptr<AnnotationStore> openStore(StoreUse use) {
    const std::string path = AnnotationStore::defaultPath();
    std::unique_ptr<AnnotationStore> store;
    try {
        store = std::make_unique<AnnotationStore>(path);
    } catch (const StoreError& error) {
        // Reading needs no write access: a store the user made read-only can still answer.
        if (use == StoreUse::write || error.kind() != StoreError::Kind::readOnly) {
            throw;
        }
        store = std::make_unique<AnnotationStore>(path, AnnotationStore::Access::readOnly);
    }
    if (const auto wait = waitFromEnvironment()) {
        store->setBusyTimeout(*wait);
    }
    return store;
}

void complain(std::string_view message) {
    std::cerr << "scrivlet: " << message << "\n";
}

} // namespace scrivlet::command
