#include "ScrivletCommand/Verbs.h"

#include <array>
#include <utility>

namespace scrivlet::command {

namespace {

constexpr const char* toolUsage =
    "usage: scrivlet VERB [OPTIONS] [ARGUMENTS]\n"
    "Reads and changes the annotations of files: rating, status, tags and note.\n"
    "\n"
    "  show PATH...             print the annotation of each file\n"
    "  set PATH... OPTIONS      create or change annotations\n"
    "  rm PATH...               remove annotations\n"
    "  find [QUERY]             list the files whose annotation matches\n"
    "  tags                     every tag in use, with its count\n"
    "  export [QUERY]           print annotations as JSON lines or CSV\n"
    "  import FILE|-            read annotations from JSON lines\n"
    "\n"
    "'scrivlet VERB --help' describes a verb. Exit status: 0 when all went well, 1 when some\n"
    "file was refused or not found, 2 for a command line that cannot be read.\n";

constexpr const char* queryHelp =
    "A query is made of terms:\n"
    "  status:flagged      status:, status=, status!= (none reviewed flagged approved\n"
    "                      needs-work)\n"
    "  rating>=4           rating with : = != < <= > >= and a number from 0 to 5\n"
    "  tag:\"Q3 2026\"       a tag, matched without regard to case\n"
    "  note:budget         words in the note; budg* for words that begin so\n"
    "  modified>2026-11-01 modified or created, with a date (YYYY-MM-DD, or with THH:MM[:SS]),\n"
    "                      in local time\n"
    "  budget              a word alone searches the notes\n"
    "joined by and, or, not and parentheses; terms side by side are joined by and.\n";

constexpr std::array<std::pair<std::string_view, std::string_view>, 7> verbUsages{{
    {"show", "usage: scrivlet show [--json] PATH...\n"
             "Prints the annotation of each file; with --json one JSON object per file (null\n"
             "for a file without one).\n"},
    {"set", "usage: scrivlet set PATH... [--rating N] [--status S] [--note TEXT | --note-file\n"
            "                    FILE|-] [--tag T]... [--untag T]... [--clear-tags]\n"
            "Creates or changes the annotations of existing files. A rating is 0 to 5; the\n"
            "statuses are none, reviewed, flagged, approved and needs-work. The badge, the\n"
            "comment and the tags on the file follow, as when the panel saves.\n"},
    {"rm", "usage: scrivlet rm PATH...\n"
           "Removes the annotations, with the badge and the tags and comment Scrivlet wrote on\n"
           "the files (never the user's own).\n"},
    {"find", "usage: scrivlet find [QUERY] [--under DIR] [--json | -0 | --count]\n"
             "Lists the files whose annotations match, one path a line (-0: ended by NUL).\n"},
    {"tags", "usage: scrivlet tags\n"
             "Prints every tag in use with the number of files carrying it.\n"},
    {"export", "usage: scrivlet export [QUERY] [--under DIR] [--format jsonl|csv]\n"
               "Prints the matching annotations, as JSON lines unless --format csv.\n"},
    {"import", "usage: scrivlet import [--dry-run] FILE|-\n"
               "Reads JSON lines as export writes them (path, and any of rating, status, tags,\n"
               "note, created, modified) and stores them; fields a line leaves out are kept.\n"
               "A line that cannot be read or names a missing file is reported and skipped.\n"
               "--dry-run prints what would change and changes nothing.\n"},
}};

std::string withQueryHelp(std::string_view usage) {
    return std::string(usage) + "\n" + queryHelp;
}

} // namespace

std::string_view usageOf(std::string_view verb) {
    static const std::string findUsage = withQueryHelp(verbUsages[3].second);
    static const std::string exportUsage = withQueryHelp(verbUsages[5].second);
    if (verb.empty()) {
        return toolUsage;
    }
    if (verb == "find") {
        return findUsage;
    }
    if (verb == "export") {
        return exportUsage;
    }
    for (const auto& [name, usage] : verbUsages) {
        if (name == verb) {
            return usage;
        }
    }
    return {};
}

} // namespace scrivlet::command
