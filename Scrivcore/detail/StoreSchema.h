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

// Switches to write-ahead logging and runs the forward migrations up to the current version.
void prepareSchema(SqliteConnection& connection);

} // namespace scrivcore::detail

} // namespace scrivlet
