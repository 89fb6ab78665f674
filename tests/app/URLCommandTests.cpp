// The "annotate" and "remove" commands and their edge cases, on a launched app with the
// simulated desktop: what they do to the panel, to Finder, to the store and to the file.
#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/base/RunLoop.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/desktop/Panel.h"
#include "Platform/system/ExtendedAttributes.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeRefreshNotifier.h"
#include "Scrivcore/BadgeXattr.h"
#include "Scrivcore/FinderCommentSync.h"
#include "Scrivcore/FinderTagSync.h"
#include "Scrivcore/PanelPlacer.h"
#include "Scrivcore/PanelViewModel.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/PanelController.h"
#include "tests/support/AppSession.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RawSqlite.h"
#include "tests/support/TempHome.h"
#include "tests/support/URLCommandSupport.h"

#include <gtest/gtest.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

const CGRect docsBounds(300, 150, 700, 500); // window-server coordinates

class URLCommands : public ::testing::Test {
protected:
    AppSession session;
    SimulatedDesktop& desktop = session.simulatedDesktop();
    SimulatedFinder& finder = desktop.finder();
    const fs::path fileA = fs::canonical(session.home().makeFile("Documents/a.txt", "a"));
    const fs::path fileB = fs::canonical(session.home().makeFile("Documents/b.txt", "b"));

    AppDelegate& app() { return *session.delegate(); }
    PanelViewModel& viewModel() { return *app().viewModel; }
    bool panelShown() {
        const auto& panel = app().panelController->panel;
        return panel && panel->isVisible() && panel->alphaValue() > 0.99;
    }
    CGRect panelFrame() { return app().panelController->panel->frame(); }
    std::string lastLine() { return session.log().messages("app").back(); }
    void open(std::string_view command, const fs::path& file) {
        session.deliverURLs({*URL::fromString(commandURL(command, file))});
        session.advance(0.2); // the panel's fades
    }
    std::optional<Annotation> record(const fs::path& file) {
        return app().store->fetch(file.string());
    }
    // A record with a note and a tag, synced to the file as the panel's saves do it.
    void annotate(const fs::path& file) {
        viewModel().beginAnnotation(file);
        viewModel().editAnnotation([](Annotation& a) {
            a.note = "check the figures";
            a.tags = {"work"};
        });
        viewModel().scheduleSave();
        viewModel().saveNow();
        ASSERT_EQ(BadgeXattr::badgeValue(file), "annotated");
        ASSERT_EQ(FinderTagSync::readTags(file), std::vector<std::string>{"work"});
        ASSERT_EQ(FinderCommentSync::readComment(file), "check the figures");
    }
    CGRect besideFinderWindow(const CGRect& finderFrame) {
        const Screen screen = desktop.screens().front();
        return *PanelPlacer::compute(finderFrame, screen.frame, screen.visibleFrame, false,
                                     PanelPlacementMode::flip)
                    .frame;
    }
};

// --- annotate ----------------------------------------------------------------------------

TEST_F(URLCommands, AnnotateWithThePanelHiddenStartsTheAnnotationEvenOfTheLastSelectedFile) {
    const std::uint32_t window = finder.openWindow(docsBounds);
    finder.select({fileA.string()});
    session.launch();
    finder.select({});
    session.desktop().settle();
    session.advance(0.2);
    ASSERT_FALSE(panelShown());
    ASSERT_FALSE(record(fileA)) << "selecting shows a draft, it stores nothing";

    open("annotate", fileA);
    EXPECT_TRUE(record(fileA)) << "the annotation was started";
    EXPECT_EQ(viewModel().selectedFileURL(), fileA);
    EXPECT_TRUE(panelShown());
    EXPECT_EQ(panelFrame(),
              besideFinderWindow(desktop.flippedRect(desktop.window(window)->bounds)));
    EXPECT_EQ(lastLine(), "Opened annotation editor for a.txt");
}

TEST_F(URLCommands, AnnotateOfTheShownFilePlacesThePanelAgainWithoutRestartingIt) {
    const std::uint32_t window = finder.openWindow(docsBounds);
    finder.select({fileA.string()});
    session.launch();
    session.advance(0.2);
    viewModel().editAnnotation([](Annotation& a) { a.note = "typed"; });
    viewModel().scheduleSave();
    // The window moves without Finder saying so; the command finds it where it is now.
    desktop.window(window)->bounds.origin = CGPoint{100, 100};

    open("annotate", fileA);
    EXPECT_TRUE(viewModel().hasUnsavedChanges()) << "a restart would have written the edit";
    EXPECT_EQ(viewModel().annotation()->note, "typed");
    EXPECT_EQ(panelFrame(),
              besideFinderWindow(desktop.flippedRect(desktop.window(window)->bounds)));
    EXPECT_EQ(lastLine(), "Opened annotation editor for a.txt");
}

// The view model selects a file but shows nothing when its record could not be read; an
// annotate for that file must try again rather than trust the selection.
TEST_F(URLCommands, AnnotateStartsOverWhenTheSelectedFileCouldNotBeLoaded) {
    finder.openWindow(docsBounds);
    session.launch();
    runSql(session.home().storePath(), "ALTER TABLE annotations RENAME TO elsewhere");
    finder.select({fileA.string()});
    session.desktop().settle();
    ASSERT_EQ(viewModel().selectedFileURL(), fileA);
    ASSERT_FALSE(viewModel().isVisible());
    runSql(session.home().storePath(), "ALTER TABLE elsewhere RENAME TO annotations");

    open("annotate", fileA);
    EXPECT_TRUE(viewModel().isVisible());
    EXPECT_TRUE(record(fileA));
    EXPECT_TRUE(panelShown());
}

TEST_F(URLCommands, AnnotateBringsFinderToTheFrontAndUndoesADismissal) {
    finder.openWindow(docsBounds);
    finder.select({fileA.string()});
    session.launch();
    session.advance(0.2);
    app().panelController->panel->close();
    const pid_t editor = desktop.launchApplication("com.example.editor", "Editor");
    desktop.activateApplication(editor);
    session.desktop().settle();
    session.advance(0.2);
    ASSERT_TRUE(app().userDismissed);
    ASSERT_FALSE(app().finderIsActive);

    open("annotate", fileB);
    EXPECT_EQ(desktop.frontmostApplication()->processIdentifier, *finder.processIdentifier());
    EXPECT_TRUE(app().finderIsActive);
    EXPECT_FALSE(app().userDismissed);
    EXPECT_EQ(viewModel().selectedFileURL(), fileB);
    EXPECT_TRUE(panelShown()) << "Finder's activation keeps the panel up";
}

TEST_F(URLCommands, AnnotateWithoutAFinderWindowUsesTheDefaultFrame) {
    session.launch();
    open("annotate", fileA);
    const CGRect standIn(420, 0, 600, 875); // 1440 x 875 visible: centred, full height
    EXPECT_EQ(app().defaultFinderFrame(), standIn);
    EXPECT_TRUE(panelShown());
    EXPECT_EQ(panelFrame(), besideFinderWindow(standIn));
}

TEST_F(URLCommands, TheDefaultFrameComesFromTheMainScreenElseTheFirstElseAFixedRectangle) {
    session.launch();
    const Screen wide{CGRect(0, 0, 1920, 1080), CGRect(0, 0, 1920, 1055)};
    const Screen side{CGRect(1920, 0, 1280, 1024), CGRect(1920, 40, 1280, 959)};
    session.desktop().setScreens({wide, side});
    desktop.setMainScreenIndex(1);
    EXPECT_EQ(app().defaultFinderFrame(), CGRect(2260, 40, 600, 959));
    session.desktop().setScreens({});
    EXPECT_EQ(app().defaultFinderFrame(), CGRect(100, 100, 600, 800));

    open("annotate", fileA); // no screen at all: the panel has nowhere to go, the app goes on
    EXPECT_EQ(lastLine(), "Opened annotation editor for a.txt");
}

// --- remove ------------------------------------------------------------------------------

TEST_F(URLCommands, RemoveClearsWhatWasSyncedDeletesTheRecordAndHidesThePanel) {
    finder.openWindow(docsBounds);
    finder.select({fileA.string()});
    session.launch();
    session.advance(0.2);
    annotate(fileA);
    BadgeRefreshNotifier::drainPendingPaths();

    open("remove", fileA);
    EXPECT_FALSE(record(fileA));
    EXPECT_EQ(BadgeXattr::badgeValue(fileA), std::nullopt);
    EXPECT_TRUE(FinderTagSync::readTags(fileA).empty());
    EXPECT_EQ(FinderCommentSync::readComment(fileA), std::nullopt);
    EXPECT_EQ(BadgeRefreshNotifier::drainPendingPaths(), std::vector<std::string>{fileA.string()});
    EXPECT_EQ(viewModel().selectedFileURL(), std::nullopt);
    EXPECT_FALSE(panelShown());
    EXPECT_EQ(lastLine(), "Removed annotation for a.txt");
}

TEST_F(URLCommands, RemoveOfAFileWithoutARecordStillClearsItsBadgeAndLeavesTheUsersTags) {
    ASSERT_FALSE(ExtendedAttributes::set(fileB, BadgeXattr::attributeName, "annotated"));
    ASSERT_FALSE(ExtendedAttributes::set(fileB, FinderTagSync::attributeName, "mine"));
    session.launch();

    open("remove", fileB);
    EXPECT_EQ(BadgeXattr::badgeValue(fileB), std::nullopt);
    EXPECT_EQ(FinderTagSync::readTags(fileB), std::vector<std::string>{"mine"});
    EXPECT_EQ(lastLine(), "Removed annotation for b.txt");
}

// Edits typed just before a removal were not saved yet; saving them later would bring the
// record back, and with it the badge and the tags.
TEST_F(URLCommands, EditsPendingWhenTheFileIsRemovedAreDroppedNotSaved) {
    finder.openWindow(docsBounds);
    finder.select({fileA.string()});
    session.launch();
    session.advance(0.2);
    annotate(fileA);
    viewModel().editAnnotation([](Annotation& a) { a.note += " again"; });
    viewModel().scheduleSave();
    session.advance(0.1);

    open("remove", fileA);
    session.advance(5);
    EXPECT_FALSE(record(fileA));
    EXPECT_EQ(BadgeXattr::badgeValue(fileA), std::nullopt);
    EXPECT_TRUE(FinderTagSync::readTags(fileA).empty());
    EXPECT_EQ(FinderCommentSync::readComment(fileA), std::nullopt);
    EXPECT_FALSE(viewModel().hasUnsavedChanges());
}

TEST_F(URLCommands, AFailedDeleteLeavesTheRecordAfterTheFileWasCleared) {
    finder.openWindow(docsBounds);
    finder.select({fileA.string()});
    session.launch();
    session.advance(0.2);
    annotate(fileA);
    runSql(session.home().storePath(), "CREATE TRIGGER refuse BEFORE DELETE ON annotations "
                                       "BEGIN SELECT RAISE(ABORT, 'deletion refused'); END;");
    BadgeRefreshNotifier::drainPendingPaths();

    open("remove", fileA);
    EXPECT_TRUE(lastLine().starts_with("Failed to remove: ")) << lastLine();
    EXPECT_NE(lastLine().find("deletion refused"), std::string::npos) << lastLine();
    EXPECT_TRUE(record(fileA)) << "the record stays";
    EXPECT_EQ(BadgeXattr::badgeValue(fileA), std::nullopt) << "cleared before the delete";
    EXPECT_TRUE(FinderTagSync::readTags(fileA).empty());
    EXPECT_EQ(FinderCommentSync::readComment(fileA), std::nullopt);
    EXPECT_TRUE(BadgeRefreshNotifier::drainPendingPaths().empty()) << "no notice";
    EXPECT_EQ(viewModel().selectedFileURL(), fileA) << "the panel is left as it was";
    EXPECT_TRUE(panelShown());
}

TEST_F(URLCommands, AFailedFetchChangesNothing) {
    session.launch();
    annotate(fileA);
    runSql(session.home().storePath(), "ALTER TABLE annotations RENAME TO elsewhere");

    open("remove", fileA);
    EXPECT_TRUE(lastLine().starts_with("Failed to remove: ")) << lastLine();
    EXPECT_EQ(BadgeXattr::badgeValue(fileA), "annotated");
    EXPECT_EQ(FinderTagSync::readTags(fileA), std::vector<std::string>{"work"});
}

// --- anything else -----------------------------------------------------------------------

TEST_F(URLCommands, AnUnknownCommandHoldsFinderSelectionsOffForOneSecond) {
    finder.openWindow(docsBounds);
    finder.select({fileA.string()});
    session.launch();
    session.advance(0.2);

    for (const std::string& url :
         {commandURL("frobnicate", fileB), "scrivlet:?path=" + fileB.string()}) {
        session.deliverURLs({*URL::fromString(url)});
        const std::string command = url.starts_with("scrivlet://") ? "frobnicate" : "";
        EXPECT_EQ(lastLine(), "Unknown action: " + command);
        EXPECT_EQ(app().selectionLockedUntil, RunLoop::main().now() + std::chrono::seconds(1));
    }
    session.advance(0.9);
    finder.select({fileB.string()});
    session.desktop().settle();
    EXPECT_EQ(viewModel().selectedFileURL(), fileA) << "a selection within the second is dropped";
    session.advance(0.2);
    finder.select({fileA.string()});
    session.desktop().settle();
    finder.select({fileB.string()});
    session.desktop().settle();
    EXPECT_EQ(viewModel().selectedFileURL(), fileB) << "after the second they count again";
}

TEST_F(URLCommands, URLsOfOneDeliveryAreHandledInOrder) {
    session.launch();
    session.deliverURLs({*URL::fromString(commandURL("annotate", fileA)),
                         *URL::fromString(commandURL("remove", fileA)),
                         *URL::fromString("https://example.org/")});
    const auto lines = session.log().messages("app");
    const std::vector<std::string> tail(lines.end() - 5, lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "URL received: " + commandURL("annotate", fileA),
                        "Opened annotation editor for a.txt",
                        "URL received: " + commandURL("remove", fileA),
                        "Removed annotation for a.txt",
                        "URL received: https://example.org/",
                    }));
}

} // namespace
