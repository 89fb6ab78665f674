#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/base/Log.h"
#include "Platform/desktop/Application.h"
#include "Platform/desktop/StatusBar.h"
#include "Platform/system/ApplicationRegistry.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivlet/AppDelegate.h"
#include "tests/support/AppSession.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RegisteredProcess.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

using namespace scrivlet;

namespace {

constexpr const char* appIdentifier = "com.scrivlet.Scrivlet";
constexpr const char* instanceLine =
    "Another Scrivlet instance is already running — exiting this one";

std::vector<pid_t> registeredProcesses() {
    std::vector<pid_t> pids;
    for (const auto& record :
         ApplicationRegistry(ApplicationRegistry::defaultDirectory()).liveRecords()) {
        pids.push_back(record.processIdentifier);
    }
    return pids;
}

TEST(SingleInstance, ASecondCopyEndsWithItsInstanceLineOnly) {
    AppSession session;
    RegisteredProcess first(ApplicationRegistry::defaultDirectory(), appIdentifier);
    session.launch();

    const auto records = session.log().records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].category, "instance");
    EXPECT_EQ(records[0].level, LogLevel::Info);
    EXPECT_EQ(records[0].message, instanceLine);
    EXPECT_TRUE(session.simulatedDesktop().statusBar().items().empty());
    EXPECT_TRUE(session.isTerminated());
    EXPECT_FALSE(session.delegate()->store);
    EXPECT_FALSE(std::filesystem::exists(session.home().storePath()));
    // The first copy is unaffected and this one never joined the registry.
    EXPECT_EQ(registeredProcesses(), std::vector<pid_t>{first.processIdentifier()});
}

// Copies that do not count: the app starts normally, lists itself, and logs nothing under
// "instance". The app's own process is on the desktop's list in every case.
TEST(SingleInstance, OnlyALiveRunningCopyBlocks) {
    struct Case {
        const char* name;
        std::function<std::unique_ptr<RegisteredProcess>()> other;
    };
    const std::vector<Case> cases = {
        {"no other copy", [] { return nullptr; }},
        {"a copy that is terminating",
         [] {
             return std::make_unique<RegisteredProcess>(ApplicationRegistry::defaultDirectory(),
                                                        appIdentifier, true);
         }},
        {"a copy that was killed",
         [] {
             auto killed = std::make_unique<RegisteredProcess>(
                 ApplicationRegistry::defaultDirectory(), appIdentifier);
             killed->kill();
             return killed;
         }},
        {"another app",
         [] {
             return std::make_unique<RegisteredProcess>(ApplicationRegistry::defaultDirectory(),
                                                        "com.example.other");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppSession session;
        const auto other = c.other();
        session.launch();
        EXPECT_TRUE(session.log().messages("instance").empty());
        EXPECT_FALSE(session.isTerminated());
        EXPECT_TRUE(session.delegate()->statusItem);
        const auto pids = registeredProcesses();
        EXPECT_NE(std::find(pids.begin(), pids.end(), ::getpid()), pids.end());
    }
}

TEST(SingleInstance, QuittingMarksTheEntrySoTheNextCopyMayStart) {
    AppSession session;
    session.launch();
    Services::current().application().terminate(nullptr);
    const auto records = ApplicationRegistry(ApplicationRegistry::defaultDirectory()).liveRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].processIdentifier, ::getpid());
    EXPECT_TRUE(records[0].terminated);
}

} // namespace
