// The searches of AnnotationStore: a parsed query compiled to SQL over the search index that
// the schema keeps beside the records (detail/QueryIndex.h).
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/QueryCompiler.h"
#include "Scrivcore/ScrivcoreLog.h"
#include "Scrivcore/TagRules.h"
#include "Scrivcore/detail/QueryIndex.h"
#include "Scrivcore/detail/SqliteConnection.h"

#include <map>

namespace scrivlet {

using scrivcore::detail::Statement;
using scrivcore::detail::StatementScope;

namespace {

constexpr const char* recordColumns = "id, path, file_name, file_extension, note, tags, rating, "
                                      "status, synced_tags, bookmark, created_at, modified_at";

// Every stored spelling of each tag, by its search key. Read once per search, a seek in the
// tag index for each distinct tag: there are few beside the records that carry them.
std::map<std::string, std::vector<std::string>>
spellingsByKey(scrivcore::detail::SqliteConnection& connection) {
    auto next =
        connection.prepare("SELECT tag FROM annotation_tags WHERE tag > ?1 ORDER BY tag LIMIT 1");
    std::map<std::string, std::vector<std::string>> result;
    std::string tag;
    while (true) {
        StatementScope scope(*next);
        next->bind(1, tag);
        if (!next->step()) {
            return result;
        }
        tag = next->columnText(0);
        result[TagRules::folded(tag)].push_back(tag);
    }
}

} // namespace

std::unique_ptr<Statement> AnnotationStore::prepareSearch(const std::string& fields,
                                                          const Search& search) {
    if (!scrivcore::detail::hasQueryIndex(*connection_)) {
        throw StoreError(StoreError::Kind::io, "The annotation store at " + path_ +
                                                   " has no search index yet; open it once "
                                                   "with write access to add it.");
    }
    std::map<std::string, std::vector<std::string>> spellings;
    bool spellingsRead = false;
    const query::CompiledQuery compiled =
        query::compileQuery(search.query, [&](const std::string& tag) {
            if (!spellingsRead) {
                spellings = spellingsByKey(*connection_);
                spellingsRead = true;
            }
            const auto found = spellings.find(TagRules::folded(tag));
            return found == spellings.end() ? std::vector<std::string>() : found->second;
        });
    std::string sql = "SELECT " + fields + " FROM annotations WHERE (" + compiled.condition + ")";
    std::vector<query::CompiledQuery::Value> values = compiled.values;
    if (search.under && *search.under != "/") {
        // A range over the key: the folder itself, and every path that starts "folder/"
        // ('0' follows '/' in byte order).
        sql += " AND (path = ? OR (path > ? AND path < ?))";
        for (const char* end : {"", "/", "0"}) {
            values.push_back({true, 0, *search.under + end});
        }
    }
    // "+path": sorting the matches beats walking every record in key order to find them,
    // which is what the planner would do to spare the sort.
    sql += search.query ? " ORDER BY +path" : " ORDER BY path";
    auto statement = connection_->prepare(sql);
    int index = 1;
    for (const auto& value : values) {
        if (value.isText) {
            statement->bind(index++, value.text);
        } else {
            statement->bind(index++, value.number);
        }
    }
    return statement;
}

std::vector<std::string> AnnotationStore::findPaths(const Search& search) {
    auto statement = prepareSearch("path", search);
    std::vector<std::string> paths;
    while (statement->step()) {
        paths.push_back(statement->columnText(0));
    }
    return paths;
}

std::vector<Annotation> AnnotationStore::findRecords(const Search& search) {
    auto statement = prepareSearch(recordColumns, search);
    std::vector<Annotation> records;
    while (statement->step()) {
        try {
            records.push_back(readRecord(*statement));
        } catch (const StoreError& error) {
            ScrivcoreLog::store().error("Skipped the damaged annotation of %{private}s: %{public}s",
                                        {statement->columnText(1), error.what()});
        }
    }
    return records;
}

std::int64_t AnnotationStore::countMatching(const Search& search) {
    auto statement = prepareSearch("count(*)", search);
    return statement->step() ? statement->columnInt(0) : 0;
}

std::vector<std::pair<std::string, std::int64_t>> AnnotationStore::tagCounts() {
    if (!scrivcore::detail::hasQueryIndex(*connection_)) {
        throw StoreError(StoreError::Kind::io, "The annotation store at " + path_ +
                                                   " has no search index yet; open it once "
                                                   "with write access to add it.");
    }
    auto statement =
        connection_->prepare("SELECT tag, count(*) FROM annotation_tags GROUP BY tag ORDER BY tag");
    std::vector<std::pair<std::string, std::int64_t>> counts;
    while (statement->step()) {
        counts.emplace_back(statement->columnText(0), statement->columnInt(1));
    }
    return counts;
}

} // namespace scrivlet
