#include "Scrivcore/detail/EditMerge.h"

#include <algorithm>

namespace scrivlet {

namespace scrivcore::detail {

namespace {

bool contains(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// Theirs, without the tags the user removed, then the tags the user added, in their order.
std::vector<std::string> mergedTags(const std::vector<std::string>& base,
                                    const std::vector<std::string>& mine,
                                    const std::vector<std::string>& theirs) {
    std::vector<std::string> result;
    for (const std::string& tag : theirs) {
        const bool removedByUser = contains(base, tag) && !contains(mine, tag);
        if (!removedByUser && !contains(result, tag)) {
            result.push_back(tag);
        }
    }
    for (const std::string& tag : mine) {
        if (!contains(base, tag) && !contains(result, tag)) {
            result.push_back(tag);
        }
    }
    return result;
}

template <typename Value>
void mergeField(const char* name, const Value& base, const Value& mine, const Value& theirs,
                Value& result, std::vector<std::string>& overridden) {
    if (mine == base) {
        result = theirs;
        return;
    }
    result = mine;
    if (theirs != base && theirs != mine) {
        overridden.emplace_back(name);
    }
}

} // namespace

MergedEdits mergeUnsavedEdits(const Annotation& base, const Annotation& mine,
                              const Annotation& theirs) {
    MergedEdits merged{theirs, {}};
    Annotation& record = merged.record;
    mergeField("rating", base.rating, mine.rating, theirs.rating, record.rating, merged.overridden);
    mergeField("status", base.status, mine.status, theirs.status, record.status, merged.overridden);
    mergeField("note", base.note, mine.note, theirs.note, record.note, merged.overridden);
    if (mine.tags != base.tags) {
        // A set merge keeps both sides' changes, so tags are never among the overridden.
        record.tags = mergedTags(base.tags, mine.tags, theirs.tags);
    }
    return merged;
}

} // namespace scrivcore::detail

} // namespace scrivlet
