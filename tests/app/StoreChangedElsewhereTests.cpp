// Another process saves the annotation the panel shows, through Scrivcore's own save path
// (the seed tool, a real second program): the app hears the notice and shows the change,
// and an edit typed in the panel but not yet saved loses nothing to it.
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/backends/simulated/SimulatedFinder.h"
#include "Platform/control/DesktopControl.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/FinderTagSync.h"
#include "Scrivcore/PanelViewModel.h"
#include "Scrivlet/AppDelegate.h"
#include "tests/support/AppSession.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace scrivlet;

namespace {

class StoreChangedElsewhere : public ::testing::Test {
protected:
    AppSession session;
    const std::string file = session.home().makeFile("Documents/report.txt").string();

    PanelViewModel& model() { return *session.delegate()->viewModel; }
    const Annotation& shown() { return *model().annotation(); }

    void SetUp() override {
        SimulatedFinder& finder = session.simulatedDesktop().finder();
        finder.openWindow(CGRect(300, 150, 700, 500));
        finder.select({file});
        session.launch();
        session.advance(0.2);
        ASSERT_TRUE(model().isVisible());
    }

    long changesShown() {
        const auto lines = session.log().messages("app");
        return std::count(lines.begin(), lines.end(), "Panel shows a change made elsewhere");
    }

    // Runs the seed tool to its end; its notice is then waiting for the app's run loop.
    static int seed(const std::vector<std::string>& args) {
        const pid_t child = startProgram(SCRIVLET_SEED_TOOL, args);
        return child < 0 ? -1 : waitForChild(child);
    }
};

TEST_F(StoreChangedElsewhere, ThePanelShowsTheOtherProcesssValuesOnTheNotice) {
    ASSERT_EQ(seed({"set", file, "rating", "4", "tag", "urgent"}), 0);
    EXPECT_EQ(shown().rating, 0) << "nothing is read before the notice is handled";
    session.desktop().settle();
    EXPECT_EQ(shown().rating, 4);
    EXPECT_EQ(shown().tags, std::vector<std::string>{"urgent"});
    EXPECT_FALSE(model().hasUnsavedChanges()) << "showing a change writes nothing back";
    EXPECT_EQ(changesShown(), 1);

    // The app's own save posts the same notice; it reads back what it wrote and says nothing.
    model().addTag("mine");
    session.advance(1);
    session.desktop().settle();
    EXPECT_EQ(changesShown(), 1);
}

TEST_F(StoreChangedElsewhere, AnUnsavedEditIsKeptAndSavedOverAConcurrentChange) {
    model().editAnnotation([](Annotation& record) { record.note = "typed here"; });
    model().scheduleSave();
    model().addTag("typed-tag");
    ASSERT_EQ(seed({"set", file, "rating", "2", "note", "from elsewhere", "tag", "theirs"}), 0);
    session.desktop().settle();

    EXPECT_EQ(shown().note, "typed here") << "what the user typed stays on screen";
    EXPECT_EQ(shown().rating, 2) << "a field the user did not touch shows the other change";
    EXPECT_EQ(shown().tags, (std::vector<std::string>{"theirs", "typed-tag"}));
    EXPECT_TRUE(session.log().contains("Kept the unsaved note of"));

    session.advance(1);
    const auto stored = AnnotationStore(AnnotationStore::defaultPath()).fetch(file);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->note, "typed here");
    EXPECT_EQ(stored->rating, 2);
    EXPECT_EQ(stored->tags, (std::vector<std::string>{"theirs", "typed-tag"}));
    EXPECT_EQ(FinderTagSync::readTags(file), (std::vector<std::string>{"theirs", "typed-tag"}));
}

} // namespace
