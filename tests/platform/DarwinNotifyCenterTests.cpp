#include "Platform/system/DarwinNotifyCenter.h"
#include "Platform/system/UserDirectories.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempHome.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace scrivlet;

using namespace std::chrono_literals;

namespace {

constexpr auto patience = 10s; // only bounds a hang; a passing run never waits this long

const std::string noticeName = "com.scrivlet.test.notice";

int postFromChildProcess(const std::string& name) {
    return waitForChild(runInChild([&] { return DarwinNotifyCenter::post(name) ? 1 : 0; }));
}

std::unique_ptr<NotifyObserver> observe(const std::string& name) {
    std::error_code error;
    auto observer = NotifyObserver::create(name, error);
    EXPECT_TRUE(observer) << error.message();
    return observer;
}

} // namespace

TEST(DarwinNotifyCenterTest, RefusesNamesThatAreNotASingleFileName) {
    TempHome home;
    LogCapture logs;
    const std::string invalid[] = {
        "", ".", "..", "a/b", "/abs", std::string("a\0b", 3), std::string(256, 'n')};
    for (const std::string& name : invalid) {
        EXPECT_FALSE(DarwinNotifyCenter::isValidName(name)) << name;
        EXPECT_EQ(DarwinNotifyCenter::post(name), std::errc::invalid_argument) << name;
        std::error_code error;
        EXPECT_EQ(NotifyObserver::create(name, error), nullptr) << name;
        EXPECT_EQ(error, std::errc::invalid_argument) << name;
    }
    EXPECT_TRUE(DarwinNotifyCenter::isValidName("com.scrivlet.badgeRefresh"));
    EXPECT_TRUE(DarwinNotifyCenter::isValidName("...") && DarwinNotifyCenter::isValidName(".a"));
    EXPECT_TRUE(DarwinNotifyCenter::isValidName(std::string(255, 'n')));
    EXPECT_EQ(logs.messages("notify").size(), 2 * std::size(invalid));
    // Refused before touching the disk: nothing was created, inside the folder or outside it.
    EXPECT_FALSE(std::filesystem::exists(DarwinNotifyCenter::noticeDirectory()));
}

TEST(DarwinNotifyCenterTest, PostingWithNobodyListeningSucceeds) {
    TempHome home;
    EXPECT_FALSE(DarwinNotifyCenter::post(noticeName));
    EXPECT_EQ(DarwinNotifyCenter::noticeDirectory(), home.path() / "run/scrivlet/notices");
}

TEST(DarwinNotifyCenterTest, ObserverWakesOnAPostFromAnotherProcess) {
    TempHome home;
    auto observer = observe(noticeName);
    ASSERT_TRUE(observer);
    EXPECT_FALSE(observer->waitForNotice(0ms));

    ASSERT_EQ(postFromChildProcess(noticeName), 0);
    EXPECT_TRUE(observer->waitForNotice(patience));
    // Consumed: the same post does not wake it twice.
    EXPECT_FALSE(observer->waitForNotice(0ms));
}

TEST(DarwinNotifyCenterTest, DescriptorBecomesReadableAndConsumingDrainsIt) {
    TempHome home;
    auto observer = observe(noticeName);
    ASSERT_TRUE(observer);
    for (int i = 0; i < 5; ++i) {
        ASSERT_FALSE(DarwinNotifyCenter::post(noticeName));
    }
    pollfd watched{observer->fileDescriptor(), POLLIN, 0};
    ASSERT_EQ(::poll(&watched, 1, 10'000), 1);
    const std::size_t seen = observer->consumePendingNotices();
    EXPECT_GE(seen, 1u);
    EXPECT_LE(seen, 5u);
    EXPECT_EQ(observer->consumePendingNotices(), 0u); // must not block either
    EXPECT_EQ(::poll(&watched, 1, 0), 0);
}

TEST(DarwinNotifyCenterTest, ObserversOnlyHearTheirOwnNameAndEachHearsIt) {
    TempHome home;
    auto first = observe(noticeName);
    auto second = observe(noticeName);
    auto other = observe("com.scrivlet.test.other");
    ASSERT_TRUE(first && second && other);

    ASSERT_FALSE(DarwinNotifyCenter::post("com.scrivlet.test.other"));
    ASSERT_FALSE(DarwinNotifyCenter::post(noticeName + ".suffix"));
    EXPECT_TRUE(other->waitForNotice(patience));
    EXPECT_EQ(first->consumePendingNotices(), 0u);

    ASSERT_FALSE(DarwinNotifyCenter::post(noticeName));
    EXPECT_TRUE(first->waitForNotice(patience));
    EXPECT_TRUE(second->waitForNotice(patience));
    EXPECT_EQ(other->consumePendingNotices(), 0u);
}

TEST(DarwinNotifyCenterTest, ObserverSurvivesTheFolderBeingRemoved) {
    TempHome home;
    auto observer = observe(noticeName);
    ASSERT_TRUE(observer);
    std::filesystem::remove_all(DarwinNotifyCenter::noticeDirectory());
    // Posts in the gap cannot be told apart, so the loss is reported as a notice.
    EXPECT_TRUE(observer->waitForNotice(patience));
    EXPECT_EQ(observer->consumePendingNotices(), 0u);

    ASSERT_EQ(postFromChildProcess(noticeName), 0);
    EXPECT_TRUE(observer->waitForNotice(patience));
}

// Notices in a folder that others can write to could be planted files (a FIFO, a link) or be
// watched by whoever made the folder: both ends refuse it, each with its log line.
TEST(DarwinNotifyCenterTest, ANoticeFolderOthersCouldWriteToIsRefused) {
    TempHome home;
    LogCapture logs;
    ASSERT_FALSE(UserDirectories::ensurePrivateDirectory(DarwinNotifyCenter::noticeDirectory()));
    ::chmod(DarwinNotifyCenter::noticeDirectory().c_str(), 0777);
    std::error_code error;
    EXPECT_FALSE(NotifyObserver::create(noticeName, error));
    EXPECT_EQ(error, UserDirectories::folderNotPrivate());
    EXPECT_EQ(DarwinNotifyCenter::post(noticeName), UserDirectories::folderNotPrivate());
    EXPECT_FALSE(std::filesystem::exists(DarwinNotifyCenter::noticeDirectory() / noticeName));
    const std::string line = "Refusing the notice folder for " + noticeName + ": The folder " +
                             DarwinNotifyCenter::noticeDirectory().string() +
                             " is open to other users (mode 0777, not 0700)";
    EXPECT_EQ(logs.messages("notify"), (std::vector<std::string>{line, line}));
}
