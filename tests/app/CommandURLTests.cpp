// How the app reads its command URLs: scheme, command, the "path" item and its decoding.
#include "Scrivlet/CommandURL.h"

#include <gtest/gtest.h>

using namespace scrivlet;

namespace {

struct Reading {
    const char* url;
    std::optional<CommandURL> expected;
};

std::optional<CommandURL> command(const char* name, std::string path) {
    return CommandURL{name, std::move(path)};
}

TEST(CommandURL, ReadsTheCommandAndTheFirstPathItem) {
    using namespace std::string_literals;
    const Reading readings[] = {
        {"scrivlet://annotate?path=/home/me/a.txt", command("annotate", "/home/me/a.txt")},
        {"scrivlet://remove?path=%2Fhome%2Fme%2Fa%20b.txt", command("remove", "/home/me/a b.txt")},
        // "+" is a plus sign in a URL, not a space.
        {"scrivlet://annotate?path=/home/me/c++.txt", command("annotate", "/home/me/c++.txt")},
        {"scrivlet://annotate?path=/a%2Bb", command("annotate", "/a+b")},
        // Only the first "path" counts; other items are ignored wherever they stand.
        {"scrivlet://annotate?x=1&path=/first&path=/second", command("annotate", "/first")},
        {"scrivlet://annotate?paths=/no&Path=/no&path=/yes", command("annotate", "/yes")},
        // A decoded NUL stays in the value for the path check to refuse.
        {"scrivlet://remove?path=/a%00b", command("remove", "/a\0b"s)},
        // The command is the host as written; without a host it is empty.
        {"scrivlet://Annotate?path=/a", command("Annotate", "/a")},
        {"scrivlet:annotate?path=/a", command("", "/a")},
        {"scrivlet://?path=/a", command("", "/a")},
        {"scrivlet://annotate/ignored/path?path=/a#fragment", command("annotate", "/a")},
        {"scrivlet://annotate?path=relative/a.txt", command("annotate", "relative/a.txt")},
        // Not a command URL: another scheme, compared exactly, or no usable "path" value.
        {"SCRIVLET://annotate?path=/a", std::nullopt},
        {"scrivlets://annotate?path=/a", std::nullopt},
        {"file:///home/me/a.txt", std::nullopt},
        {"scrivlet://annotate", std::nullopt},
        {"scrivlet://annotate?", std::nullopt},
        {"scrivlet://annotate?file=/a", std::nullopt},
        {"scrivlet://annotate?path", std::nullopt},
        {"scrivlet://annotate?path&path=/second", std::nullopt},
        {"scrivlet://annotate?path=", std::nullopt},
    };
    for (const Reading& reading : readings) {
        SCOPED_TRACE(reading.url);
        const std::optional<URL> url = URL::fromString(reading.url);
        ASSERT_TRUE(url);
        const std::optional<CommandURL> read = readCommandURL(*url);
        ASSERT_EQ(read.has_value(), reading.expected.has_value());
        if (read) {
            EXPECT_EQ(read->command, reading.expected->command);
            EXPECT_EQ(read->path, reading.expected->path);
        }
    }
}

TEST(CommandURL, IgnoresAURLWithoutAScheme) {
    const std::optional<URL> relative = URL::fromString("annotate?path=/a");
    ASSERT_TRUE(relative);
    EXPECT_FALSE(readCommandURL(*relative));
}

} // namespace
