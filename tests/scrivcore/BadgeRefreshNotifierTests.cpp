#include "Platform/system/UserDirectories.h"
#include "Scrivcore/BadgeRefreshNotifier.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <poll.h>
#include <unistd.h>

using namespace scrivlet;

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using Paths = std::vector<std::string>;

std::string longPath(int index, std::size_t length) {
    std::string path = "/f" + std::to_string(index) + "/";
    path.resize(length, 'x');
    return path;
}

} // namespace

TEST(BadgeRefreshNotifierTest, NotifyInAnotherProcessReachesTheDrainInOrderWithoutRepeats) {
    TempHome home;
    EXPECT_TRUE(BadgeRefreshNotifier::drainPendingPaths().empty());
    EXPECT_FALSE(fs::exists(BadgeRefreshNotifier::queuePath())); // a drain creates nothing

    const pid_t child = runInChild([] {
        bool ok = true;
        for (const char* path : {"/b", "/a", "/b", "/c", "/a"}) {
            ok = BadgeRefreshNotifier::notifyChange(path) && ok;
        }
        return ok ? 0 : 1;
    });
    ASSERT_EQ(waitForChild(child), 0);

    EXPECT_EQ(BadgeRefreshNotifier::queuePath().parent_path(), UserDirectories::groupContainer());
    EXPECT_EQ(BadgeRefreshNotifier::drainPendingPaths(), (Paths{"/b", "/a", "/c"}));
    EXPECT_TRUE(BadgeRefreshNotifier::drainPendingPaths().empty());
}

TEST(BadgeRefreshNotifierTest, ObserverWakesAndDrainsWhatAnotherProcessQueued) {
    TempHome home;
    std::error_code error;
    auto observer = BadgeRefreshNotifier::makeObserver(error);
    ASSERT_TRUE(observer) << error.message();

    const pid_t child =
        runInChild([] { return BadgeRefreshNotifier::notifyChange("/doc.txt") ? 0 : 1; });
    EXPECT_EQ(waitForChild(child), 0);
    ASSERT_TRUE(observer->waitForNotice(10s));
    EXPECT_EQ(BadgeRefreshNotifier::drainPendingPaths(), Paths{"/doc.txt"});
}

TEST(BadgeRefreshNotifierTest, UnusualPathsRoundTripAndUnusablePathsAreRefused) {
    TempHome home;
    LogCapture logs;
    const Paths unusual = {"/with space/a b.txt", "/line\nbreak", "/latin1-\xe9\xff\x80",
                           "relative/name", std::string(PATH_MAX - 1, 'p')};
    for (const std::string& path : unusual) {
        EXPECT_TRUE(BadgeRefreshNotifier::notifyChange(path));
    }
    const std::string refused[] = {"", std::string("/nul\0inside", 11), std::string(PATH_MAX, 'p')};
    for (const std::string& path : refused) {
        EXPECT_FALSE(BadgeRefreshNotifier::notifyChange(path));
    }
    EXPECT_EQ(logs.messages("badges").size(), std::size(refused));
    EXPECT_EQ(BadgeRefreshNotifier::drainPendingPaths(), unusual);
}

TEST(BadgeRefreshNotifierTest, QueueStaysBoundedDroppingRepeatsBeforeOldestPaths) {
    TempHome home;
    LogCapture logs;
    constexpr std::size_t entryLength = 4000;
    const std::size_t fits = BadgeRefreshNotifier::queueLimitBytes / (entryLength + 1);

    // Repeats alone never cost a path.
    for (int round = 0; round < 3; ++round) {
        for (std::size_t i = 0; i < fits; ++i) {
            ASSERT_TRUE(BadgeRefreshNotifier::notifyChange(longPath(int(i), entryLength)));
        }
    }
    EXPECT_FALSE(logs.contains("dropped"));
    EXPECT_EQ(BadgeRefreshNotifier::drainPendingPaths().size(), fits);

    // Fill it, notify the oldest again, then overflow: the path noticed again counts as fresh.
    for (std::size_t i = 0; i < fits; ++i) {
        ASSERT_TRUE(BadgeRefreshNotifier::notifyChange(longPath(int(i), entryLength)));
    }
    ASSERT_TRUE(BadgeRefreshNotifier::notifyChange(longPath(0, entryLength)));
    for (std::size_t i = fits; i < fits + 10; ++i) {
        ASSERT_TRUE(BadgeRefreshNotifier::notifyChange(longPath(int(i), entryLength)));
        ASSERT_LE(fs::file_size(BadgeRefreshNotifier::queuePath()),
                  BadgeRefreshNotifier::queueLimitBytes);
    }
    EXPECT_TRUE(logs.contains("dropped"));
    const Paths kept = BadgeRefreshNotifier::drainPendingPaths();
    ASSERT_EQ(kept.size(), fits);
    EXPECT_EQ(std::count(kept.begin(), kept.end(), longPath(0, entryLength)), 1);
    EXPECT_EQ(std::count(kept.begin(), kept.end(), longPath(1, entryLength)), 0);
    EXPECT_EQ(kept.back(), longPath(int(fits + 9), entryLength));
}

TEST(BadgeRefreshNotifierTest, UnfinishedEntryOfADeadWriterDoesNotCorruptTheNextPath) {
    TempHome home;
    LogCapture logs;
    ASSERT_FALSE(UserDirectories::ensureDirectory(UserDirectories::groupContainer()));
    std::ofstream(BadgeRefreshNotifier::queuePath(), std::ios::binary)
        << std::string("/whole\0/half", 12);
    ASSERT_TRUE(BadgeRefreshNotifier::notifyChange("/next"));
    EXPECT_EQ(BadgeRefreshNotifier::drainPendingPaths(), (Paths{"/whole", "/half", "/next"}));

    std::ofstream(BadgeRefreshNotifier::queuePath(), std::ios::binary)
        << std::string("/whole\0/half", 12);
    EXPECT_EQ(BadgeRefreshNotifier::drainPendingPaths(), Paths{"/whole"});
    EXPECT_TRUE(logs.contains("unfinished"));
}

// One notifier and two drainers, all in their own processes: every path is handed out
// exactly once in total.
TEST(BadgeRefreshNotifierTest, ConcurrentDrainersShareEveryPathExactlyOnce) {
    TempHome home;
    constexpr int pathCount = 2000;
    int stop[2];
    ASSERT_EQ(::pipe(stop), 0);

    auto drainer = [&](int index) {
        return runInChild([&, index] {
            ::close(stop[1]);
            std::error_code error;
            auto observer = BadgeRefreshNotifier::makeObserver(error);
            if (!observer) {
                return 2;
            }
            std::ofstream out(home.path() / ("drained-" + std::to_string(index)), std::ios::binary);
            auto drainOnce = [&] {
                for (const std::string& path : BadgeRefreshNotifier::drainPendingPaths()) {
                    out << path << '\0';
                }
            };
            pollfd stopped{stop[0], POLLIN, 0};
            while (::poll(&stopped, 1, 0) == 0) {
                observer->waitForNotice(2ms);
                drainOnce();
            }
            drainOnce();
            out.close();
            return out ? 0 : 1;
        });
    };
    const pid_t drainers[] = {drainer(0), drainer(1)};
    ::close(stop[0]);
    const pid_t notifier = runInChild([] {
        for (int i = 0; i < pathCount; ++i) {
            if (!BadgeRefreshNotifier::notifyChange("/p/" + std::to_string(i))) {
                return 1;
            }
        }
        return 0;
    });
    EXPECT_EQ(waitForChild(notifier), 0);
    ::close(stop[1]);
    for (pid_t child : drainers) {
        EXPECT_EQ(waitForChild(child), 0);
    }

    std::map<std::string, int> deliveries;
    for (int index = 0; index < 2; ++index) {
        const std::string drained =
            readWholeFile(home.path() / ("drained-" + std::to_string(index)));
        for (std::size_t start = 0, end; (end = drained.find('\0', start)) != std::string::npos;
             start = end + 1) {
            ++deliveries[drained.substr(start, end - start)];
        }
    }
    for (const std::string& path : BadgeRefreshNotifier::drainPendingPaths()) {
        ++deliveries[path]; // the drainers finished after the notifier, so nothing is left
        ADD_FAILURE() << "left in the queue: " << path;
    }
    EXPECT_EQ(deliveries.size(), std::size_t(pathCount));
    for (const auto& [path, count] : deliveries) {
        EXPECT_EQ(count, 1) << path;
    }
}
