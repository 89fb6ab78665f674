#include "Platform/system/JournaldLogSink.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

using Fields = std::vector<std::string>;

TEST(JournaldLogSink, LevelsMapToSyslogPriorities) {
    EXPECT_EQ(journalPriority(LogLevel::Debug), 7);
    EXPECT_EQ(journalPriority(LogLevel::Info), 6);
    EXPECT_EQ(journalPriority(LogLevel::Default), 5);
    EXPECT_EQ(journalPriority(LogLevel::Error), 3);
    EXPECT_EQ(journalPriority(LogLevel::Fault), 2);
}

TEST(JournaldLogSink, FieldsKeepSubsystemCategoryAndNSLogApart) {
    const LogRecord unified{"com.scrivlet", "store", LogLevel::Error, "open failed:\nline two",
                            false};
    EXPECT_EQ(journalFields(unified, "Scrivlet"),
              (Fields{"MESSAGE=open failed:\\nline two", "PRIORITY=3", "SYSLOG_IDENTIFIER=Scrivlet",
                      "SCRIVLET_SUBSYSTEM=com.scrivlet", "SCRIVLET_CATEGORY=store"}));

    const LogRecord nslog{{}, {}, LogLevel::Default, "Scrivlet: hello", true};
    EXPECT_EQ(journalFields(nslog, ""),
              (Fields{"MESSAGE=Scrivlet: hello", "PRIORITY=5", "SCRIVLET_NSLOG=1"}));
}

// journalctl shows a message as lines; what a logged value holds must not add one, nor
// terminal controls, nor bytes the journal would keep as a blob.
TEST(JournaldLogSink, AMessageCannotForgeAnEntry) {
    const std::string forged = "URL received: forged";
    const LogRecord unified{"com.scrivlet", "app", LogLevel::Info,
                            "Opened annotation editor for a\n" + forged + "\x1b[2K\xff", false};
    const LogRecord nslog{{}, {}, LogLevel::Default, "Scrivlet: b\r\n" + forged, true};
    EXPECT_EQ(journalFields(unified, "Scrivlet").front(),
              "MESSAGE=Opened annotation editor for a\\n" + forged + "\\x1B[2K\\xFF");
    EXPECT_EQ(journalFields(nslog, "Scrivlet").front(), "MESSAGE=Scrivlet: b\\r\\n" + forged);
}

TEST(JournaldLogSink, FactoryPicksTheJournalOnlyWhenItsSocketIsThere) {
    TempHome home;
    const fs::path socketPath = home.path() / "run/journal.socket";
    EXPECT_FALSE(
        std::dynamic_pointer_cast<JournaldLogSink>(makeSystemLogSink("Scrivlet", socketPath)));
    EXPECT_FALSE(std::dynamic_pointer_cast<JournaldLogSink>(
        makeSystemLogSink("Scrivlet", home.makeFile("run/plain-file"))));

    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.native().size(), sizeof address.sun_path);
    socketPath.native().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    EXPECT_TRUE(
        std::dynamic_pointer_cast<JournaldLogSink>(makeSystemLogSink("Scrivlet", socketPath)));

    // A script that reads the log on stderr gets it there even beside a running journal.
    ::setenv("SCRIVLET_LOG_TO_STDERR", "1", 1);
    EXPECT_FALSE(
        std::dynamic_pointer_cast<JournaldLogSink>(makeSystemLogSink("Scrivlet", socketPath)));
    ::setenv("SCRIVLET_LOG_TO_STDERR", "0", 1);
    EXPECT_TRUE(
        std::dynamic_pointer_cast<JournaldLogSink>(makeSystemLogSink("Scrivlet", socketPath)));
    ::unsetenv("SCRIVLET_LOG_TO_STDERR");
    ::close(fd);
}

TEST(JournaldLogSink, WritingWithoutAJournalNeitherThrowsNorCrashes) {
    if (fs::exists(journalSocketPath)) {
        GTEST_SKIP() << "a journal is running here; these records would land in it";
    }
    JournaldLogSink sink("Scrivlet");
    EXPECT_NO_THROW({
        sink.write({"com.scrivlet", "store", LogLevel::Fault, "first\nsecond", false});
        sink.write({{}, {}, LogLevel::Default, "", true});
        sink.write({"com.scrivlet", "store", LogLevel::Error, std::string(1 << 20, 'x'), false});
    });
}

} // namespace
