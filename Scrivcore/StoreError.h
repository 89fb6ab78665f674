#pragma once

#include "Scrivcore/Export.h"

#include <stdexcept>
#include <string>

namespace scrivlet {

// What the annotation store throws. `what()` is a sentence a user can read.
class SCRIVCORE_API StoreError : public std::runtime_error {
public:
    enum class Kind {
        cannotOpen,    // missing folder, permissions, a directory in the file's place
        notADatabase,  // the file is not an SQLite database, or not an annotation store
        corrupt,       // the database or one of its records is damaged
        newerVersion,  // written by a newer version of Scrivlet
        busy,          // another process held the store for longer than the busy timeout
        readOnly,      // the file or its folder cannot be written
        duplicatePath, // re-keying onto a path that already has a record
        missingRecord, // re-keying a path that has no record
        invalidRecord, // a record that cannot be stored as it is
        io,            // any other failure of the database engine
    };

    StoreError(Kind kind, const std::string& description)
        : std::runtime_error(description), kind_(kind) {}

    Kind kind() const { return kind_; }

    // Whether trying the same operation again later may succeed: the store was busy, or the
    // disk or its permissions failed for now. A record the store refuses stays refused.
    bool canSucceedLater() const {
        return kind_ == Kind::busy || kind_ == Kind::io || kind_ == Kind::readOnly ||
               kind_ == Kind::cannotOpen;
    }

private:
    Kind kind_;
};

} // namespace scrivlet
