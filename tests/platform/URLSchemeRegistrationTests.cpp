// Registration as the handler of a URL scheme: the desktop entry that says so, how its Exec
// line survives awkward paths, and how an opener finds the registered command.
#include "Platform/system/DesktopEntry.h"
#include "Platform/system/LaunchServices.h"
#include "Platform/system/URLDelivery.h"
#include "Platform/system/URLSchemeRegistration.h"
#include "Platform/system/UserDirectories.h"
#include "tests/support/TempHome.h"
#include "tests/support/URLCommandSupport.h"

#include <gtest/gtest.h>

using namespace scrivlet;
using namespace std::chrono_literals;

namespace fs = std::filesystem;

namespace {

using Arguments = std::vector<std::string>;

TEST(DesktopEntry, ExecLinesSplitUnquoteAndExpandFieldCodes) {
    struct Case {
        const char* exec;
        std::optional<Arguments> expected;
    };
    const Arguments urls = {"scrivlet://a", "scrivlet://b"};
    const Case cases[] = {
        {"/opt/app %U", Arguments{"/opt/app", "scrivlet://a", "scrivlet://b"}},
        {"/opt/app --open %u", Arguments{"/opt/app", "--open", "scrivlet://a", "scrivlet://b"}},
        {"\"/opt/my app/run\" %F", Arguments{"/opt/my app/run", "scrivlet://a", "scrivlet://b"}},
        {"\"/a \\\"b\\\" \\$HOME \\\\ \\`x\\`\"", Arguments{"/a \"b\" $HOME \\ `x`"}},
        {"/opt/app --rate=100%% %i %c %k", Arguments{"/opt/app", "--rate=100%"}},
        {"  /opt/app   -x  ", Arguments{"/opt/app", "-x"}},
        {"\"/opt/unterminated %U", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exec);
        EXPECT_EQ(DesktopEntry::expandExec(c.exec, urls), c.expected);
    }
}

TEST(DesktopEntry, WhatIsWrittenReadsBackWhateverThePathHoldsAndOnlyFromTheMainGroup) {
    const std::string paths[] = {
        "/opt/Scrivlet.app/Contents/MacOS/Scrivlet", "/home/me/My Apps/Scrivlet",
        "/home/me/\"quoted\" $dollar `tick` back\\slash 100%/app", " /leading space/app"};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const std::string text = URLSchemeRegistration::desktopEntryText(
            {"com.example.App", "Example", path, {"scrivlet", "other"}});
        const auto keys = DesktopEntry::readMainGroup("# made by a test\n" + text +
                                                      "[Desktop Action x]\nExec=/not/this\n");
        ASSERT_TRUE(keys);
        EXPECT_EQ(keys->at("MimeType"), "x-scheme-handler/scrivlet;x-scheme-handler/other;");
        EXPECT_EQ(DesktopEntry::expandExec(keys->at("Exec"), {"scrivlet://x?path=/a%20b"}),
                  (Arguments{path, "scrivlet://x?path=/a%20b"}));
    }
    EXPECT_FALSE(DesktopEntry::readMainGroup("[Other]\nExec=/x\n"));
    // Other readers see the same text: quoted for Exec, then escaped as a value.
    const std::string text = URLSchemeRegistration::desktopEntryText(
        {"com.example.App", "Example", "/opt/back\\slash app/run", {"scrivlet"}});
    EXPECT_NE(text.find(R"(Exec="/opt/back\\\\slash app/run" %U)"), std::string::npos) << text;
    EXPECT_NE(text.find("\nTryExec=/opt/back\\\\slash app/run\n"), std::string::npos) << text;
}

class Registration : public ::testing::Test {
protected:
    TempHome home;
    const ScopedEnvironment noSystemEntries{"XDG_DATA_DIRS", (home.path() / "system").string()};
    URLSchemeRegistration::Application app{"com.scrivlet.Scrivlet",
                                           "Scrivlet",
                                           "/opt/Scrivlet.app/Contents/MacOS/Scrivlet",
                                           {"scrivlet"}};
    const fs::path entry = URLSchemeRegistration::desktopEntryPath("com.scrivlet.Scrivlet");

    std::optional<Arguments> command() {
        return URLSchemeRegistration::commandForOpening("scrivlet", {"scrivlet://x"});
    }
};

TEST_F(Registration, WritesTheEntryOnceAndAgainWhenTheApplicationMoves) {
    EXPECT_EQ(entry, UserDirectories::dataHome() / "applications/com.scrivlet.Scrivlet.desktop");
    ASSERT_FALSE(URLSchemeRegistration::registerApplication(app));
    EXPECT_EQ(command(), (Arguments{app.executable.string(), "scrivlet://x"}));
    const auto written = fs::last_write_time(entry);
    fs::last_write_time(entry, written - 1h);
    ASSERT_FALSE(URLSchemeRegistration::registerApplication(app));
    EXPECT_EQ(fs::last_write_time(entry), written - 1h) << "an entry that is right stays";

    app.executable = "/home/me/Applications/Scrivlet.app/Contents/MacOS/Scrivlet";
    ASSERT_FALSE(URLSchemeRegistration::registerApplication(app));
    EXPECT_EQ(command(), (Arguments{app.executable.string(), "scrivlet://x"}));
    EXPECT_EQ(readWholeFile(entry), URLSchemeRegistration::desktopEntryText(app));
}

TEST_F(Registration, OpenersFindTheUsersEntryFirstThenTheSystemsAndSkipHiddenOnes) {
    EXPECT_EQ(command(), std::nullopt);
    home.makeFile("system/applications/zz-system.desktop",
                  "[Desktop Entry]\nExec=/usr/bin/system-handler %u\n"
                  "MimeType=text/plain;x-scheme-handler/scrivlet;\n");
    EXPECT_EQ(command(), (Arguments{"/usr/bin/system-handler", "scrivlet://x"}));
    home.makeFile(".local/share/applications/aa-hidden.desktop",
                  "[Desktop Entry]\nExec=/bin/hidden %U\nHidden=true\n"
                  "MimeType=x-scheme-handler/scrivlet;\n");
    home.makeFile(".local/share/applications/ab-other.desktop",
                  "[Desktop Entry]\nExec=/bin/other %U\nMimeType=x-scheme-handler/scrivlets;\n");
    EXPECT_EQ(command(), (Arguments{"/usr/bin/system-handler", "scrivlet://x"}));
    ASSERT_FALSE(URLSchemeRegistration::registerApplication(app));
    EXPECT_EQ(command(), (Arguments{app.executable.string(), "scrivlet://x"}));
}

// Without a running receiver, an open starts the registered application and judges it by
// what it does; a missing or hung one fails the open in bounded time.
TEST_F(Registration, OpeningWithNoReceiverDependsOnWhatTheStartedApplicationDoes) {
    const std::vector<URL> url = {*URL::fromString("scrivlet://annotate?path=/a")};
    LaunchServices::OpenOptions options;
    options.timeout = 2s;
    EXPECT_EQ(LaunchServices::openURLs(url, options), std::errc::no_such_file_or_directory);

    // A copy that hands its URLs to a receiver and ends well; one that fails; one that hangs.
    options.fallbackApplication = "/bin/true";
    EXPECT_FALSE(LaunchServices::openURLs(url, options));
    options.fallbackApplication = "/bin/false";
    EXPECT_EQ(LaunchServices::openURLs(url, options), std::errc::connection_aborted);
    // A copy that handed the URLs to a running one too busy to confirm them.
    home.makeFile(".local/share/applications/busy.desktop",
                  "[Desktop Entry]\nExec=/bin/sh -c \"exit 3\" %U\n"
                  "MimeType=x-scheme-handler/scrivlet;\n");
    EXPECT_EQ(LaunchServices::openURLs(url, options), URLDelivery::unconfirmed());
    fs::remove(home.path() / ".local/share/applications/busy.desktop");
    home.makeFile(
        ".local/share/applications/hangs.desktop",
        "[Desktop Entry]\nExec=/bin/sh -c \"sleep 1\" %U\nMimeType=x-scheme-handler/scrivlet;\n");
    options.timeout = 300ms;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(LaunchServices::openURLs(url, options), std::errc::timed_out);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
}

} // namespace
