#pragma once

#include "Scrivcore/Annotation.h"
#include "Scrivcore/Export.h"

#include <string>
#include <vector>

namespace scrivlet {

namespace scrivcore::detail {

// Unsaved edits of a record that another process changed meanwhile. Each field the user
// edited keeps the user's value (their save comes last, so it wins); every other field takes
// the other process's value. Tags merge as sets: the tags the user added or removed are
// applied to the other process's list. The record's bookkeeping (id, dates, bookmark, the
// tags written to the file) is always the store's, which reflects the file as it is now.
struct MergedEdits {
    Annotation record;
    // The fields (rating, status, note) where the other process's change gave way to
    // the user's, for the log.
    std::vector<std::string> overridden;
};

// `base` is the record the user's edits started from, `mine` it with the edits, `theirs`
// the store's record now.
SCRIVCORE_API MergedEdits mergeUnsavedEdits(const Annotation& base, const Annotation& mine,
                                            const Annotation& theirs);

} // namespace scrivcore::detail

} // namespace scrivlet
