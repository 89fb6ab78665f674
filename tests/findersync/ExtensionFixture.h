#pragma once

#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/base/RunLoop.h"
#include "Platform/desktop/Application.h"
#include "Platform/desktop/FinderSyncController.h"
#include "Scrivcore/AnnotationStore.h"
#include "ScrivletFinderSync/FinderSyncExtension.h"
#include "tests/support/AppSession.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace scrivlet {

// Records the URLs that reach the application, as the app's URL handler receives them.
class URLRecorder final : public ApplicationDelegate {
public:
    void applicationOpenURLs(const std::vector<URL>& urls) override {
        received.insert(received.end(), urls.begin(), urls.end());
    }
    std::vector<URL> received;
};

// The extension in a sandbox (temporary home, simulated desktop, virtual clock) beside a
// writable store that plays the app's part.
class ExtensionTest : public ::testing::Test {
protected:
    void SetUp() override { Application::shared().setDelegate(&recorder); }
    void TearDown() override { Application::shared().setDelegate(nullptr); }

    AnnotationStore& appStore() {
        if (!writer) {
            writer = std::make_unique<AnnotationStore>(AnnotationStore::defaultPath());
        }
        return *writer;
    }
    std::string annotate(const std::string& name,
                         Annotation::Status status = Annotation::Status::none) {
        const std::string path = session.home().makeFile("Documents/" + name).string();
        Annotation record = Annotation::forFile(path, Date());
        record.status = status;
        appStore().save(record);
        return path;
    }
    std::shared_ptr<FinderSyncExtension> startExtension() {
        extension = FinderSyncExtension::make();
        return extension;
    }
    FinderSyncController& controller() { return FinderSyncController::defaultController(); }
    void select(std::vector<URL> urls) { session.simulatedDesktop().setFinderSyncSelection(urls); }
    void runUntilIdle() { session.services().runLoop().runUntilIdle(); }
    std::vector<std::string> nsLogLines() { return session.log().messages(""); }

    AppSession session;
    URLRecorder recorder;
    std::unique_ptr<AnnotationStore> writer;
    std::shared_ptr<FinderSyncExtension> extension;
};

} // namespace scrivlet
