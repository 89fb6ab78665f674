#pragma once

#include "Scrivcore/detail/SqliteConnection.h"

namespace scrivlet {

namespace scrivcore::detail {

inline constexpr std::int64_t currentSchemaVersion = 1;

// Reads the file without writing to it and throws unless it is a writable, intact annotation
// store of a version we know, or an empty database we may turn into one. A refused file is
// left as it was, with nothing beside it.
void verifyStoreFile(SqliteConnection& connection);

// What a reader needs and nothing more, without the full-file check the writer runs: the file
// is an SQLite database whose format version this code reads. Damage elsewhere surfaces as an
// error of the one lookup that meets it.
void verifyReadableStore(SqliteConnection& connection);

// Switches to write-ahead logging, runs the forward migrations up to the current version and
// adds the badge index and the search index where they are missing.
void prepareSchema(SqliteConnection& connection);

// The index that answers a badge from its own pages: path, status and the two tag lists the
// answer checks, without the notes and bookmarks that fill the table's pages. It is not part
// of the file's format: an older version reads and writes a store that has it, and keeps it
// up to date, so adding it needs no new format version.
inline constexpr const char* badgeIndexName = "annotations_badge";

} // namespace scrivcore::detail

} // namespace scrivlet
