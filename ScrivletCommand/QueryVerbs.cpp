// The verbs that read by query: find, tags and export.
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/QueryParser.h"
#include "ScrivletCommand/RecordFormat.h"
#include "ScrivletCommand/Verbs.h"

#include <algorithm>
#include <iostream>

namespace scrivlet::command {

namespace {

std::string jsonLine(const Annotation& record) {
    return recordJson(record).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The caret goes under the column; tabs stay tabs so it lines up in a terminal.
std::string caretLine(const std::string& text, std::size_t column) {
    std::string line;
    std::size_t seen = 1;
    for (std::size_t i = 0; i < text.size() && seen < column; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) {
            continue;
        }
        line += text[i] == '\t' ? '\t' : ' ';
        ++seen;
    }
    return line + "^";
}

// Words after the verb that are not options make one query, joined by spaces, so that
// `scrivlet find status:flagged rating>=4` needs no quotes around the whole.
struct QueryArguments {
    std::string text;
    std::optional<std::string> under;
    std::vector<std::string> options;
};

QueryArguments readQueryArguments(Arguments& arguments, const std::vector<std::string>& flags,
                                  const std::vector<std::string>& valued) {
    QueryArguments result;
    while (!arguments.done()) {
        if (!arguments.atOption()) {
            result.text += (result.text.empty() ? "" : " ") + arguments.take();
            continue;
        }
        const std::string option = arguments.take();
        if (option == "--under" &&
            std::find(valued.begin(), valued.end(), option) != valued.end()) {
            result.under = recordKey(arguments.takeValue(option));
        } else if (std::find(valued.begin(), valued.end(), option) != valued.end()) {
            result.options.push_back(option + "=" + arguments.takeValue(option));
        } else if (std::find(flags.begin(), flags.end(), option) != flags.end()) {
            result.options.push_back(option);
        } else {
            throw UsageError("unknown option " + option);
        }
    }
    return result;
}

std::unique_ptr<query::Node> parsedQuery(const std::string& text) {
    try {
        return query::parseQuery(text);
    } catch (const query::QueryError& error) {
        throw UsageError("bad query at column " + std::to_string(error.column()) + ": " +
                             error.what() + "\n  " + text + "\n  " +
                             caretLine(text, error.column()),
                         false);
    }
}

bool has(const QueryArguments& query, const std::string& option) {
    return std::find(query.options.begin(), query.options.end(), option) != query.options.end();
}

} // namespace

int findVerb(Arguments& arguments) {
    const QueryArguments input =
        readQueryArguments(arguments, {"--json", "-0", "--count"}, {"--under"});
    if (has(input, "--json") + has(input, "-0") + has(input, "--count") > 1) {
        throw UsageError("choose one of --json, -0 and --count");
    }
    const auto root = parsedQuery(input.text);
    const auto store = openStore(StoreUse::read);
    const AnnotationStore::Search search{root.get(), input.under};
    if (has(input, "--count")) {
        std::cout << store->countMatching(search) << "\n";
    } else if (has(input, "--json")) {
        for (const Annotation& record : store->findRecords(search)) {
            std::cout << jsonLine(record) << "\n";
        }
    } else {
        const char end = has(input, "-0") ? '\0' : '\n';
        for (const std::string& path : store->findPaths(search)) {
            std::cout << path << end;
        }
    }
    return exitOK;
}

int tagsVerb(Arguments& arguments) {
    if (!arguments.done()) {
        throw UsageError("tags takes no arguments");
    }
    const auto store = openStore(StoreUse::read);
    for (const auto& [tag, count] : store->tagCounts()) {
        std::cout << count << "\t" << tag << "\n";
    }
    return exitOK;
}

int exportVerb(Arguments& arguments) {
    const QueryArguments input = readQueryArguments(arguments, {}, {"--format", "--under"});
    bool csv = false;
    for (const std::string& option : input.options) {
        if (option == "--format=csv") {
            csv = true;
        } else if (option != "--format=jsonl") {
            throw UsageError("the formats are jsonl and csv, not '" + option.substr(9) + "'");
        }
    }
    const auto root = parsedQuery(input.text);
    const auto store = openStore(StoreUse::read);
    const std::vector<Annotation> records = store->findRecords({root.get(), input.under});
    if (csv) {
        std::cout << csvHeader() << "\r\n";
    }
    for (const Annotation& record : records) {
        std::cout << (csv ? csvRow(record) + "\r\n" : jsonLine(record) + "\n");
    }
    return exitOK;
}

} // namespace scrivlet::command
