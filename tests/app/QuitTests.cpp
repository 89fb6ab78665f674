// Quitting right after a panel edit, while the panel may still fade in: the edit is stored as
// the app ends, and nothing of the app outlives it on the run loop. The fade holds the panel,
// the panel its view model, and a view model released by the loop's own teardown used to
// cancel its save timer on the loop being destroyed.
#include "Platform/Services.h"
#include "Platform/base/RunLoop.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/desktop/Application.h"
#include "Platform/desktop/Panel.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/PanelViewModel.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/PanelController.h"
#include "tests/support/AppSession.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

using namespace scrivlet;

namespace {

namespace fs = std::filesystem;

enum class QuitBy { signal, menu };

const char* describe(QuitBy how) {
    return how == QuitBy::signal ? "SIGTERM" : "the menu";
}

// Selects the file in Finder and sets its status in the panel as soon as the panel shows it.
void flagInPanel(AppSession& session, const fs::path& file) {
    session.desktop().selectInFinder(file.string());
    for (int frame = 0; frame < 120; ++frame) {
        if (session.desktop().chooseStatusInPanel("flagged")) {
            return;
        }
        session.advance(1.0 / 120);
    }
    FAIL() << "no panel showed " << file;
}

void quit(AppSession& session, QuitBy how) {
    if (how == QuitBy::signal) {
        Application::shared().terminate(nullptr); // what the program's signal handler does
    } else {
        ASSERT_TRUE(session.desktop().openStatusMenu());
        ASSERT_TRUE(session.desktop().chooseMenuItem("Quit Scrivlet"));
    }
    ASSERT_TRUE(session.isTerminated());
}

TEST(QuitAfterAnEdit, TheEditIsStoredAndTheAppReleasedBeforeTheLoopGoes) {
    for (const QuitBy how : {QuitBy::signal, QuitBy::menu}) {
        for (const double delay : {0.0, 0.05, 0.1, 0.2, 0.5}) {
            SCOPED_TRACE(std::string("quit by ") + describe(how) + " after " +
                         std::to_string(delay) + " s");
            AppSession session;
            session.launch();
            const fs::path file = session.home().makeFile("docs/q.txt", "text");
            flagInPanel(session, file);
            const std::weak_ptr<PanelViewModel> model = session.delegate()->viewModel;
            const std::weak_ptr<Panel> panel = session.delegate()->panelController->panel;
            if (delay == 0) {
                ASSERT_LT(panel.lock()->alphaValue(), 1.0) << "the quit comes during the fade";
            }
            session.advance(delay);
            quit(session, how);
            session.exitProcess();

            const auto stored =
                AnnotationStore(session.home().storePath().string()).fetch(file.string());
            ASSERT_TRUE(stored);
            EXPECT_EQ(stored->status, Annotation::Status::flagged);
            EXPECT_TRUE(model.expired()) << "the view model outlived the app";
            EXPECT_TRUE(panel.expired()) << "the panel outlived the app";
            EXPECT_EQ(session.services().runLoop().timerCount(), 0u);
            EXPECT_FALSE(session.log().contains("before closing"));
        }
    }
}

// The delegate's last call comes while the whole app still runs: the edit is written then,
// before anything of the app is released.
TEST(QuitAfterAnEdit, TheDelegateWritesTheEditWhenTheAppWillTerminate) {
    AppSession session;
    session.launch();
    const fs::path file = session.home().makeFile("docs/q.txt", "text");
    flagInPanel(session, file);
    session.delegate()->applicationWillTerminate();
    const auto stored = AnnotationStore(session.home().storePath().string()).fetch(file.string());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->status, Annotation::Status::flagged);
    EXPECT_FALSE(session.delegate()->viewModel->hasUnsavedChanges());
}

} // namespace
