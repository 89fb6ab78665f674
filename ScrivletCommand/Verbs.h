#pragma once

#include "ScrivletCommand/CommandLine.h"

#include <memory>
#include <string_view>

namespace scrivlet {
class AnnotationStore;
}

namespace scrivlet::command {

// Exit statuses: every file done; some file refused or not found; a command line the tool
// cannot read.
inline constexpr int exitOK = 0;
inline constexpr int exitRefused = 1;
inline constexpr int exitUsage = 2;

// Each verb reads its arguments (after the verb) and answers the exit status. They throw
// UsageError for a bad command line and StoreError when the store cannot be used.
int showVerb(Arguments& arguments);
int setVerb(Arguments& arguments);
int removeVerb(Arguments& arguments);
int findVerb(Arguments& arguments);
int tagsVerb(Arguments& arguments);
int exportVerb(Arguments& arguments);
int importVerb(Arguments& arguments);

// The usage of a verb ("" for the tool itself); empty for a verb that does not exist.
std::string_view usageOf(std::string_view verb);

// The store of this user ($SCRIVLET_CONTAINER moves it). A verb that only reads still opens
// a store whose file is read-only; $SCRIVLET_STORE_WAIT sets how many milliseconds to wait
// for another writer (5000 unless set).
enum class StoreUse { read, write };
std::unique_ptr<AnnotationStore> openStore(StoreUse use);

// "scrivlet: " and the message, on standard error.
void complain(std::string_view message);

} // namespace scrivlet::command
