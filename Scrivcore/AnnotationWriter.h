#pragma once

#include "Scrivcore/Annotation.h"
#include "Scrivcore/Export.h"

#include <functional>
#include <string>

namespace scrivlet {

class AnnotationStore;

// The steps every writer of an annotation takes besides the store itself, in one place, so
// that the panel, the URL commands and the command-line tool leave a file in the same state:
// the bookmark at the first save, the badge, comment and tag attributes on the file (merged
// with the user's own, never overwriting them), and the notice that redraws badges.
namespace AnnotationWriter {

// Gives a record without a bookmark one, so a moved file can be followed. A file that cannot
// be reached gets none yet; the next save tries again.
SCRIVCORE_API void addBookmarkIfMissing(Annotation& record);

// After a record was stored: brings the file's attributes in step with it, and stores the
// record again when the tags Scrivcore owns on the file changed. Never throws; failures are
// logged.
SCRIVCORE_API void syncFileAttributes(AnnotationStore& store, Annotation& record);

// A whole save for a writer without a panel: bookmark, store, attributes, notice. The caller
// dates the record (an import keeps the dates it brings). Throws StoreError when the store
// refuses, with nothing done to the file.
SCRIVCORE_API void save(AnnotationStore& store, Annotation& record);

// The same save of a change to the stored record of `path` (a new one when there is none),
// for a writer that did not read it first: the read and the write are one transaction, so a
// save another process made in between is changed, not overwritten. Answers what was
// stored. Throws StoreError when the store refuses, with nothing done to the file.
SCRIVCORE_API Annotation update(AnnotationStore& store, const std::string& path,
                                const std::function<void(Annotation&)>& change);

// Removes the record of `path` and what was synced from it: the comment and tags Scrivcore
// wrote (never the user's), the badge, then posts the notice. Answers whether there was a
// record. Throws StoreError (the record and the file's tags left as they were when the
// record cannot be read).
SCRIVCORE_API bool remove(AnnotationStore& store, const std::string& path);

} // namespace AnnotationWriter

} // namespace scrivlet
