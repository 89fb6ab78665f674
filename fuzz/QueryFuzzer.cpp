// Feeds arbitrary text to the search language: the parser must answer a tree or a refusal
// with a column inside the text (or just past its end), never crash; and every query it
// accepts must compile to SQL that the store runs, with one "?" per value, whatever the text
// holds, since no text of the query may reach the SQL itself.
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/QueryCompiler.h"
#include "Scrivcore/QueryParser.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

std::unique_ptr<scrivlet::AnnotationStore> store;

std::size_t characters(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

void checkCompiled(const scrivlet::query::Node* root) {
    const auto compiled = scrivlet::query::compileQuery(root, [](const std::string&) {
        return std::vector<std::string>{"Q3", "a\"b"};
    });
    const auto marks = std::count(compiled.condition.begin(), compiled.condition.end(), '?');
    if (static_cast<std::size_t>(marks) != compiled.values.size()) {
        std::fprintf(stderr, "%zu values for %s\n", compiled.values.size(),
                     compiled.condition.c_str());
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/scrivlet-query-fuzz-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::abort();
    }
    store = std::make_unique<scrivlet::AnnotationStore>(std::string(folder) + "/store.sqlite");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<scrivlet::query::Node> root;
    try {
        root = scrivlet::query::parseQuery(text);
    } catch (const scrivlet::query::QueryError& error) {
        if (error.column() < 1 || error.column() > characters(text) + 1) {
            std::fprintf(stderr, "column %zu outside the text\n", error.column());
            std::abort();
        }
        return 0;
    }
    checkCompiled(root.get());
    try {
        store->countMatching({root.get(), std::nullopt});
    } catch (const scrivlet::StoreError& error) {
        std::fprintf(stderr, "the store refused a compiled query: %s\n", error.what());
        std::abort();
    }
    return 0;
}
