#include "Platform/system/ApplicationRegistry.h"
#include "Platform/system/UserDirectories.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/OtherUser.h"
#include "tests/support/RegisteredProcess.h"
#include "tests/support/TempHome.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

constexpr const char* appIdentifier = "com.scrivlet.Scrivlet";

class ApplicationRegistryTest : public ::testing::Test {
protected:
    TempHome home;
    fs::path directory = ApplicationRegistry::defaultDirectory();

    // An entry as another process would have written it.
    void plant(pid_t pid, std::uint64_t startTime, bool terminated = false) {
        fs::create_directories(directory);
        std::ofstream(directory / (std::to_string(pid) + ".app"))
            << R"({"pid":)" << pid << R"(,"bundleIdentifier":"com.scrivlet.Scrivlet",)"
            << R"("bundlePath":"/x/Scrivlet.app","startTime":)" << startTime << R"(,"terminated":)"
            << (terminated ? "true" : "false") << "}\n";
    }
};

TEST_F(ApplicationRegistryTest, ListsOnlyProcessesThatStillRun) {
    RegisteredProcess live(directory, appIdentifier);
    RegisteredProcess terminating(directory, appIdentifier, true);
    RegisteredProcess crashed(directory, appIdentifier);
    crashed.kill();
    // The parent runs, but it is not the process that wrote this entry (a recycled id).
    plant(::getppid(), *ApplicationRegistry::startTimeOf(::getppid()) + 1);
    fs::create_directories(directory);
    std::ofstream(directory / "77.app") << "not an entry";

    const auto records = ApplicationRegistry(directory).liveRecords();
    ASSERT_EQ(records.size(), 2u);
    for (const ApplicationRecord& record : records) {
        EXPECT_EQ(record.bundleIdentifier, appIdentifier);
        EXPECT_EQ(record.bundlePath, "/elsewhere/Scrivlet.app");
        EXPECT_EQ(record.terminated, record.processIdentifier == terminating.processIdentifier());
        EXPECT_TRUE(record.processIdentifier == live.processIdentifier() ||
                    record.processIdentifier == terminating.processIdentifier());
    }
}

TEST_F(ApplicationRegistryTest, RegisteringClearsEndedEntriesAndLeavingWithdrawsItsOwn) {
    RegisteredProcess crashed(directory, appIdentifier);
    const pid_t crashedPID = crashed.processIdentifier();
    crashed.kill();
    {
        ApplicationRegistry registry(directory);
        ASSERT_FALSE(registry.registerCurrentProcess(registry.lockExclusively(), appIdentifier,
                                                     "/Applications/Scrivlet.app"));
        EXPECT_FALSE(fs::exists(directory / (std::to_string(crashedPID) + ".app")));
        const auto records = registry.liveRecords();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].processIdentifier, ::getpid());
        EXPECT_FALSE(records[0].terminated);

        registry.markCurrentProcessTerminated();
        EXPECT_TRUE(registry.liveRecords().at(0).terminated);
        EXPECT_TRUE(registry.currentRecord()->terminated);
    }
    EXPECT_TRUE(ApplicationRegistry(directory).liveRecords().empty());
}

TEST_F(ApplicationRegistryTest, ALockThatCannotBeTakenIsReportedAndRegistersNothing) {
    std::ofstream(home.path() / "run" / "scrivlet") << "a file where the folder belongs";
    ApplicationRegistry registry(directory);
    const auto access = registry.lockExclusively();
    EXPECT_FALSE(access.isHeld());
    ASSERT_TRUE(access.error());
    EXPECT_NE(access.error()->localizedDescription.find(directory.string()), std::string::npos);
    EXPECT_TRUE(registry.registerCurrentProcess(access, appIdentifier, "/x"));
    EXPECT_FALSE(registry.currentRecord());
}

// What another user could have put in the registry never stands for a running copy: not an
// entry in a folder that others can write to (this process does not register there either),
// nor, in a private folder, a file that is not this user's.
TEST_F(ApplicationRegistryTest, EntriesOthersCouldHavePlantedNeverCount) {
    ASSERT_FALSE(UserDirectories::ensurePrivateDirectory(directory));
    const pid_t parent = ::getppid();
    plant(parent, *ApplicationRegistry::startTimeOf(parent));
    ApplicationRegistry registry(directory);
    ASSERT_EQ(registry.liveRecords().size(), 1u) << "a live entry of this user's counts";

    const fs::path run = home.path() / "run";
    ::chmod(run.c_str(), 01777);
    EXPECT_TRUE(registry.liveRecords().empty());
    const auto access = registry.lockExclusively();
    EXPECT_FALSE(access.isHeld());
    ASSERT_TRUE(access.error());
    EXPECT_EQ(access.error()->code, UserDirectories::folderNotPrivate());
    EXPECT_EQ(access.error()->localizedDescription,
              "The folder " + run.string() + " can be written by other users (mode 1777)");
    EXPECT_TRUE(registry.registerCurrentProcess(access, appIdentifier, "/x"));
    EXPECT_FALSE(registry.currentRecord());

    ::chmod(run.c_str(), 0700);
    ASSERT_EQ(
        ::chown((directory / (std::to_string(parent) + ".app")).c_str(), otherUser, otherUser), 0);
    EXPECT_TRUE(registry.liveRecords().empty());
}

// Two copies that start at the same moment both look, then register if no other copy runs.
// Held across look and register, the lock lets exactly one of them stay, every time.
TEST_F(ApplicationRegistryTest, OfTwoCopiesStartedTogetherExactlyOneStays) {
    for (int round = 0; round < 20; ++round) {
        int go[2];
        int decided[2];
        int release[2];
        ASSERT_EQ(::pipe(go), 0);
        ASSERT_EQ(::pipe(decided), 0);
        ASSERT_EQ(::pipe(release), 0);
        auto copy = [&] {
            char byte = 0;
            ::close(go[1]);
            ::close(release[1]);
            (void)::read(go[0], &byte, 1); // everyone starts when the parent closes `go`
            ApplicationRegistry registry(directory);
            auto access = registry.lockExclusively();
            bool anotherRuns = false;
            for (const ApplicationRecord& record : registry.liveRecords()) {
                anotherRuns =
                    anotherRuns || (record.processIdentifier != ::getpid() && !record.terminated);
            }
            const char stays = anotherRuns ? 'n' : 'y';
            if (!anotherRuns && registry.registerCurrentProcess(access, appIdentifier, "/a")) {
                return 2;
            }
            { const auto released = std::move(access); }
            (void)::write(decided[1], &stays, 1);
            if (!anotherRuns) {
                (void)::read(release[0], &byte, 1); // stay alive until both have decided
            }
            return 0;
        };
        const pid_t first = runInChild(copy);
        const pid_t second = runInChild(copy);
        ::close(go[0]);
        ::close(go[1]);
        ::close(decided[1]);
        ::close(release[0]);
        char answers[2] = {};
        ASSERT_EQ(::read(decided[0], &answers[0], 1), 1);
        ASSERT_EQ(::read(decided[0], &answers[1], 1), 1);
        ::close(release[1]);
        ::close(decided[0]);
        EXPECT_EQ(waitForChild(first), 0);
        EXPECT_EQ(waitForChild(second), 0);
        EXPECT_EQ((answers[0] == 'y') + (answers[1] == 'y'), 1) << "round " << round;
        fs::remove_all(directory);
    }
}

} // namespace
