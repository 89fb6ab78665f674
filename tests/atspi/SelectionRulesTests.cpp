#include "Platform/backends/atspi/SelectionRules.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>

namespace scrivlet::atspi {
namespace {

// A view of items; `nullopt` marks an item that does not answer.
struct FakeView {
    std::vector<std::optional<bool>> selected;
    std::vector<std::size_t> asked;

    CellScanResult scan(std::size_t cap) {
        return scanCells(selected.size(), cap, [this](std::size_t index) {
            asked.push_back(index);
            return selected.at(index);
        });
    }
};

TEST(CellScanTest, OneSelectedItemAnywhereIsTheSelectionAndEveryItemIsRead) {
    for (std::size_t position = 0; position < 5; ++position) {
        FakeView view{std::vector<std::optional<bool>>(5, false), {}};
        view.selected[position] = true;
        const CellScanResult result = view.scan(100);
        EXPECT_EQ(result.count, SelectedCount::one) << position;
        EXPECT_EQ(result.selectedIndex, position);
        // A second selected item after it would change the answer: all must be read.
        EXPECT_EQ(result.cellsRead, 5U);
    }
}

TEST(CellScanTest, NoneSeveralAndUnreadableItems) {
    FakeView empty{{}, {}};
    EXPECT_EQ(empty.scan(100).count, SelectedCount::none);

    FakeView unselected{{false, false, false}, {}};
    EXPECT_EQ(unselected.scan(100).count, SelectedCount::none);

    // Stops at the second selected item: what follows cannot make it single again.
    FakeView two{{false, true, false, true, false, false}, {}};
    const CellScanResult several = two.scan(100);
    EXPECT_EQ(several.count, SelectedCount::several);
    EXPECT_EQ(two.asked, (std::vector<std::size_t>{0, 1, 2, 3}));

    // An item that does not answer could be selected: the count is not known.
    FakeView broken{{true, std::nullopt, false}, {}};
    EXPECT_EQ(broken.scan(100).count, SelectedCount::unknown);
}

TEST(CellScanTest, AViewLargerThanTheCapIsNotReadAndIsNotASingleSelection) {
    FakeView large{std::vector<std::optional<bool>>(11, false), {}};
    large.selected[0] = true;
    const CellScanResult result = large.scan(10);
    EXPECT_EQ(result.count, SelectedCount::unknown);
    EXPECT_TRUE(large.asked.empty());

    FakeView atCap{std::vector<std::optional<bool>>(10, false), {}};
    atCap.selected[9] = true;
    EXPECT_EQ(atCap.scan(10).count, SelectedCount::one);
}

// Runs an outward scan to its end, a few items per turn as the reader does.
CellScanResult scanOutward(FakeView& view, std::size_t start, std::size_t reach = SIZE_MAX,
                           std::size_t perTurn = 3) {
    OutwardScan scan(view.selected.size(), start, reach);
    std::size_t turns = 0;
    while (!scan.isDone() && turns++ < 1000) {
        std::size_t left = perTurn;
        scan.advance(
            [&view](std::size_t index) {
                view.asked.push_back(index);
                return view.selected.at(index);
            },
            [&left] { return left-- > 0; });
    }
    return scan.result();
}

TEST(OutwardScanTest, EveryItemIsReadOnceFromTheStartOutwardAcrossTurns) {
    FakeView view{std::vector<std::optional<bool>>(6, false), {}};
    view.selected[1] = true;
    const CellScanResult result = scanOutward(view, 4);
    EXPECT_EQ(result.count, SelectedCount::one);
    EXPECT_EQ(result.selectedIndex, 1U);
    EXPECT_EQ(view.asked, (std::vector<std::size_t>{4, 5, 3, 2, 1, 0}));

    FakeView edge{std::vector<std::optional<bool>>(4, false), {}};
    EXPECT_EQ(scanOutward(edge, 0).count, SelectedCount::none);
    EXPECT_EQ(edge.asked, (std::vector<std::size_t>{0, 1, 2, 3}));
    FakeView empty{{}, {}};
    EXPECT_EQ(scanOutward(empty, 0).count, SelectedCount::none);
}

TEST(OutwardScanTest, ANeighbourSelectedBesideTheStartEndsItAtOnce) {
    // Select-all or a shift-selection: two reads, however large the view.
    FakeView all{std::vector<std::optional<bool>>(10000, true), {}};
    EXPECT_EQ(scanOutward(all, 5000).count, SelectedCount::several);
    EXPECT_EQ(all.asked.size(), 2U);

    FakeView silent{std::vector<std::optional<bool>>(5, false), {}};
    silent.selected[3] = std::nullopt;
    EXPECT_EQ(scanOutward(silent, 2).count, SelectedCount::unknown);
}

TEST(OutwardScanTest, AReachReadsOnlyTheNeighbourhood) {
    FakeView view{std::vector<std::optional<bool>>(100, false), {}};
    view.selected[50] = true;
    view.selected[90] = true; // beyond the reach: not seen
    const CellScanResult result = scanOutward(view, 50, 5);
    EXPECT_EQ(result.count, SelectedCount::one);
    EXPECT_EQ(result.selectedIndex, 50U);
    EXPECT_EQ(view.asked, (std::vector<std::size_t>{50, 51, 49, 52, 48}));
}

// Many questions out at once, answered in reverse order of asking, as a busy bus may.
CellScanResult scanPipelined(const FakeView& view, std::size_t start, std::size_t inFlight,
                             std::vector<std::size_t>* asked = nullptr) {
    OutwardScan scan(view.selected.size(), start);
    std::vector<std::size_t> out;
    while (!scan.isDone()) {
        while (out.size() < inFlight) {
            const std::optional<std::size_t> index = scan.nextToAsk();
            if (!index) {
                break;
            }
            out.push_back(*index);
            if (asked != nullptr) {
                asked->push_back(*index);
            }
        }
        if (out.empty()) {
            break;
        }
        const std::size_t index = out.back();
        out.pop_back();
        scan.record(index, view.selected.at(index));
    }
    return scan.result();
}

TEST(OutwardScanTest, AnswersInAnyOrderGiveTheSameCountAsReadingInTurn) {
    FakeView one{std::vector<std::optional<bool>>(50, false), {}};
    one.selected[3] = true;
    std::vector<std::size_t> asked;
    const CellScanResult single = scanPipelined(one, 40, 8, &asked);
    EXPECT_EQ(single.count, SelectedCount::one);
    EXPECT_EQ(single.selectedIndex, 3U);
    // Every item asked once: a single selection is confirmed only by all of them.
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked.size(), 50U);
    EXPECT_EQ(std::adjacent_find(asked.begin(), asked.end()), asked.end());

    // The second selected item far from the first, whichever answers first.
    FakeView two = one;
    two.selected[49] = true;
    EXPECT_EQ(scanPipelined(two, 40, 8).count, SelectedCount::several);
    EXPECT_EQ(scanPipelined(two, 0, 64).count, SelectedCount::several);

    FakeView none{std::vector<std::optional<bool>>(50, false), {}};
    EXPECT_EQ(scanPipelined(none, 10, 8).count, SelectedCount::none);

    // One item that does not answer, among answers that would make a single selection.
    FakeView silent = one;
    silent.selected[20] = std::nullopt;
    EXPECT_EQ(scanPipelined(silent, 40, 8).count, SelectedCount::unknown);
}

TEST(FolderTitleTest, TheApplicationsNameIsTakenOffWhateverTheSeparator) {
    EXPECT_EQ(folderFromTitle("docs \u2014 Dolphin", "Dolphin"), "docs");
    EXPECT_EQ(folderFromTitle("/home/ann/my docs \u2013 Dolphin", "Dolphin"), "/home/ann/my docs");
    EXPECT_EQ(folderFromTitle("a - b - Dolphin", "Dolphin"), "a - b");
    // A folder that happens to be called like the application, or a bare title, stays.
    EXPECT_EQ(folderFromTitle("Dolphin", "Dolphin"), "Dolphin");
    EXPECT_EQ(folderFromTitle("docs", "Dolphin"), "docs");
    EXPECT_EQ(folderFromTitle("docs \u2014 Dolphin", ""), "docs \u2014 Dolphin");
}

const std::vector<Place> places = {
    {"Home", "/home/ann"},
    {"Projects", "/srv/projects"},
    {"Home", "/mnt/other-home"},
};

TEST(FolderCandidatesTest, AnAbsoluteTitleIsTheOnlyCandidate) {
    FolderClues clues{"/home/ann/docs", {"Home", "elsewhere"}, ""};
    EXPECT_EQ(folderCandidates(clues, places), (std::vector<std::string>{"/home/ann/docs"}));
    clues.title = "/home/ann/../etc";
    EXPECT_TRUE(folderCandidates(clues, places).empty());
    clues.title = "/";
    EXPECT_EQ(folderCandidates(clues, places), (std::vector<std::string>{"/"}));
}

TEST(FolderCandidatesTest, TheLocationBarIsRebuiltOnEachPlaceItsFirstButtonNames) {
    EXPECT_EQ(folderCandidates({"docs", {"Home", "docs"}, ""}, places),
              (std::vector<std::string>{"/home/ann/docs", "/mnt/other-home/docs"}));
    EXPECT_EQ(folderCandidates({"sub", {"Projects", "a b", "sub"}, ""}, places),
              (std::vector<std::string>{"/srv/projects/a b/sub"}));
    EXPECT_EQ(folderCandidates({"tmp", {"/", "tmp"}, ""}, places),
              (std::vector<std::string>{"/tmp"}));
    EXPECT_EQ(folderCandidates({"/", {"/"}, ""}, places), (std::vector<std::string>{"/"}));
    // A place's own folder goes by the place's name in the title.
    EXPECT_EQ(folderCandidates({"Projects", {"Projects"}, ""}, places),
              (std::vector<std::string>{"/srv/projects"}));
    // An unknown place, or a button that is not a plain name, gives nothing to confirm.
    EXPECT_TRUE(folderCandidates({"x", {"Network", "x"}, ""}, places).empty());
    EXPECT_TRUE(folderCandidates({"x", {"Home", "..", "x"}, ""}, places).empty());
    EXPECT_TRUE(folderCandidates({"b", {"Home", "a/b"}, ""}, places).empty());
}

TEST(FolderCandidatesTest, APathTheTitleDoesNotNameIsLeftOut) {
    // The bar still shows the last folder while the window already shows another.
    EXPECT_TRUE(folderCandidates({"sub", {"Home", "docs"}, ""}, places).empty());
    EXPECT_TRUE(folderCandidates({"docs", {}, "/home/ann/other/"}, places).empty());
}

TEST(FolderCandidatesTest, WhileEditedTheLocationTextIsThePath) {
    EXPECT_EQ(folderCandidates({"my docs", {}, "/home/ann/my docs/"}, places),
              (std::vector<std::string>{"/home/ann/my docs"}));
    EXPECT_EQ(folderCandidates({"my docs", {}, "file:///home/ann/my%20docs"}, places),
              (std::vector<std::string>{"/home/ann/my docs"}));
    EXPECT_EQ(folderCandidates({"Home", {}, "/home/ann/"}, places),
              (std::vector<std::string>{"/home/ann"}));
    EXPECT_TRUE(folderCandidates({"x", {}, "smb://server/x"}, places).empty());
    EXPECT_TRUE(folderCandidates({"x", {}, "file:///a/%2"}, places).empty());
    // A decoded NUL would cut the path short where the system reads it.
    EXPECT_TRUE(folderCandidates({"x", {}, "file:///etc%00/x"}, places).empty());
    EXPECT_TRUE(folderCandidates({"x", {}, "~/x"}, places).empty());
}

TEST(ChooseFolderTest, OnlyASingleConfirmedCandidateIsChosen) {
    const std::vector<std::string> candidates = {"/a/docs", "/b/docs"};
    std::vector<std::string> asked;
    const auto confirmOnly = [&asked](std::vector<std::string> accepted) {
        return [&asked, accepted](const std::string& folder) {
            asked.push_back(folder);
            return std::find(accepted.begin(), accepted.end(), folder) != accepted.end();
        };
    };
    EXPECT_EQ(chooseFolder(candidates, confirmOnly({"/b/docs"})), "/b/docs");
    EXPECT_EQ(asked, candidates);
    EXPECT_EQ(chooseFolder(candidates, confirmOnly({})), std::nullopt);
    EXPECT_EQ(chooseFolder(candidates, confirmOnly({"/a/docs", "/b/docs"})), std::nullopt);
    EXPECT_EQ(chooseFolder({}, confirmOnly({"/a/docs"})), std::nullopt);
}

TEST(PathInFolderTest, OnlyPlainNamesJoinCleanFolders) {
    EXPECT_EQ(pathInFolder("/home/ann", "notes.txt"), "/home/ann/notes.txt");
    EXPECT_EQ(pathInFolder("/", "etc"), "/etc");
    EXPECT_EQ(pathInFolder("/home/ann", "a b \u00e9.txt"), "/home/ann/a b \u00e9.txt");
    for (const char* name : {"", ".", "..", "a/b", "/abs"}) {
        EXPECT_EQ(pathInFolder("/home/ann", name), std::nullopt) << name;
    }
    EXPECT_EQ(pathInFolder("/home/ann/", "x"), std::nullopt);
    EXPECT_EQ(pathInFolder("relative", "x"), std::nullopt);
}

TEST(PlacesFileTest, LocalPlacesAreReadDecodedAndOthersSkipped) {
    const std::string xbel = R"(<?xml version="1.0" encoding="UTF-8"?>
<xbel xmlns:kdepriv="http://www.kde.org/kdepriv">
 <bookmark href="file:///home/ann">
  <title>Home</title>
 </bookmark>
 <bookmark href="remote:/">
  <title>Network</title>
 </bookmark>
 <bookmark href="file:///srv/My%20Files/">
  <title>Files &amp; more</title>
 </bookmark>
 <bookmark href="file:///srv/%2E%2E/etc">
  <title>Escaping</title>
 </bookmark>
 <bookmark href="file:///srv/broken%4">
  <title>Broken</title>
 </bookmark>
</xbel>)";
    const std::vector<Place> read = placesFromBookmarks(xbel);
    ASSERT_EQ(read.size(), 2U);
    EXPECT_EQ(read[0].name, "Home");
    EXPECT_EQ(read[0].path, "/home/ann");
    EXPECT_EQ(read[1].name, "Files & more");
    EXPECT_EQ(read[1].path, "/srv/My Files");
    EXPECT_TRUE(placesFromBookmarks("").empty());
    EXPECT_TRUE(placesFromBookmarks("<bookmark href=\"file:///x\"><title>X").empty());
}

TEST(EventEffectTest, SelectionNamesWindowsAndStructureAreTheEventsThatCount) {
    EXPECT_EQ(classifyEvent("object:state-changed:selected", 1), EventEffect::rescan);
    EXPECT_EQ(classifyEvent("object:state-changed:selected", 0), EventEffect::rescan);
    EXPECT_EQ(classifyEvent("object:property-change:accessible-name", 0), EventEffect::rescan);
    EXPECT_EQ(classifyEvent("window:activate", 0), EventEffect::rescan);
    EXPECT_EQ(classifyEvent("window:deactivate", 0), EventEffect::rescan);
    EXPECT_EQ(classifyEvent("object:state-changed:focused", 1), EventEffect::rescan);
    EXPECT_EQ(classifyEvent("object:state-changed:focused", 0), EventEffect::ignore);
    EXPECT_EQ(classifyEvent("object:children-changed:add", 0), EventEffect::refindView);
    EXPECT_EQ(classifyEvent("object:state-changed:showing", 1), EventEffect::refindView);
    EXPECT_EQ(classifyEvent("object:text-caret-moved", 3), EventEffect::ignore);
    EXPECT_EQ(classifyEvent("object:state-changed:armed", 1), EventEffect::ignore);
}

TEST(RescanScheduleTest, ABurstWaitsForItsEndButNoLongerThanTheLimit) {
    RescanSchedule schedule(0.025, 0.1);
    EXPECT_FALSE(schedule.isPending());
    EXPECT_DOUBLE_EQ(schedule.noteEvent(10.0), 10.025);
    EXPECT_TRUE(schedule.isPending());
    EXPECT_DOUBLE_EQ(schedule.noteEvent(10.01), 10.035);
    // A steady stream: held to 0.1 s after the first event.
    EXPECT_DOUBLE_EQ(schedule.noteEvent(10.09), 10.1);
    EXPECT_DOUBLE_EQ(schedule.noteEvent(10.2), 10.1);
    schedule.noteRescan();
    EXPECT_FALSE(schedule.isPending());
    EXPECT_DOUBLE_EQ(schedule.noteEvent(11.0), 11.025);
}

} // namespace
} // namespace scrivlet::atspi
