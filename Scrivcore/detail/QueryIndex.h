#pragma once

#include "Scrivcore/detail/SqliteConnection.h"

#include <string>

namespace scrivlet {

namespace scrivcore::detail {

// The tables and indexes that answer searches: a row per (record, tag), the words of every
// note in a full-text table, and indexes over status, rating and the two dates. Triggers on
// the records table keep them in step, so any writer, this version or an older one that
// knows nothing of them, keeps them right. They are not part of the file's format: the
// records table is as it was, and the store keeps its format version, so an older version
// opens a store that has them.
//
// They are added once, in one transaction that also fills them from the records already
// stored and then writes the marker row; a process killed part-way leaves the store as it
// was, and the next open tries again. Like the badge index, a store that is busy or full
// opens without them (logged) and gets them next time; searching such a store throws.
void ensureQueryIndex(SqliteConnection& connection);

// Whether the marker of a finished addition is there, and the triggers that keep it right.
bool hasQueryIndex(SqliteConnection& connection);

// An SQL condition on sqlite_schema's `name` that holds for the objects added here that
// outlive the records table: a store that has only these is still an empty store.
std::string searchObjectCondition();

inline constexpr const char* tagTableName = "annotation_tags";
inline constexpr const char* wordTableName = "annotation_words";
inline constexpr const char* rowKeyTableName = "annotation_keys";

} // namespace scrivcore::detail

} // namespace scrivlet
