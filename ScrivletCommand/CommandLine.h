#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace scrivlet::command {

// A command line the tool cannot read: the message, then the verb's usage, exit status 2.
// A query that cannot be read says where, and is followed by no usage.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& message, bool showUsage = true)
        : std::runtime_error(message), showUsage_(showUsage) {}
    bool showUsage() const { return showUsage_; }

private:
    bool showUsage_;
};

// The arguments after the verb, taken one at a time. "--" ends the options; "--name=value"
// is read as "--name value".
class Arguments {
public:
    explicit Arguments(std::vector<std::string> arguments);

    bool done() const { return next_ >= arguments_.size(); }
    // The next argument is an option (not "-" alone, not after "--").
    bool atOption() const;
    std::string take();
    // The value of the option just taken; throws UsageError when there is none.
    std::string takeValue(std::string_view option);

private:
    std::vector<std::string> arguments_;
    std::size_t next_ = 0;
    bool optionsEnded_ = false;
};

// The record key of a file named on the command line: absolute (from the current folder),
// without "." and "..", without a trailing slash, and with its symbolic links resolved when
// it exists, as the app's URL commands resolve them. The bytes of the name are kept as they
// are; nothing is normalised, as the app keeps the names the file manager reports.
std::string recordKey(const std::string& argument);

// Whether something (a file or a folder) is at the key; a dangling link is nothing.
bool fileExists(const std::string& key);

std::optional<int> parseRating(std::string_view text);

} // namespace scrivlet::command
