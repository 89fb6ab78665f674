#include "Scrivcore/PanelPlacer.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <ostream>
#include <random>

using namespace scrivlet;

// Readable failure messages; found by ADL because CGRect is a global type.
void PrintTo(const CGRect& r, std::ostream* os) {
    *os << "{" << r.minX() << ", " << r.minY() << ", " << r.width() << " x " << r.height() << "}";
}

namespace {

using PanelPlacer::gap;
using enum PanelPlacementMode;
constexpr PanelPlacementMode allModes[] = {flip, clamp, hide};

const CGRect laptop{0, 0, 1440, 900};
const CGRect laptopVisible{0, 0, 1440, 875}; // menu bar taken out

std::optional<CGRect> place(const CGRect& finder, PanelPlacementMode mode,
                            const CGRect& visible = laptopVisible, bool fullscreen = false) {
    return PanelPlacer::compute(finder, laptop, visible, fullscreen, mode).frame;
}

TEST(PanelPlacer, SitsRightOfTheWindowWithTopsLevel) {
    for (auto mode : allModes)
        EXPECT_EQ(place({100, 200, 800, 500}, mode), CGRect(908, 100, 300, 600));
}

TEST(PanelPlacer, NarrowRightSideFlipsLeftOrClampsOver) {
    const CGRect finder{900, 200, 500, 500};
    EXPECT_EQ(place(finder, flip), CGRect(592, 100, 300, 600));
    EXPECT_EQ(place(finder, hide), CGRect(592, 100, 300, 600));
    EXPECT_EQ(place(finder, clamp), CGRect(1140, 100, 300, 600));
}

TEST(PanelPlacer, NeitherSideFitsFlipTakesRoomierSideAndHideShowsNothing) {
    EXPECT_EQ(place({200, 100, 1000, 700}, flip), CGRect(1140, 200, 300, 600));
    EXPECT_EQ(place({280, 100, 1000, 700}, flip), CGRect(0, 200, 300, 600));
    EXPECT_EQ(place({200, 100, 1000, 700}, hide), std::nullopt);
}

TEST(PanelPlacer, SlidesVerticallyInsideTheVisibleFrame) {
    const CGRect withDock{0, 70, 1440, 805};
    EXPECT_EQ(place({100, 300, 800, 700}, flip, withDock), CGRect(908, 275, 300, 600));
    EXPECT_EQ(place({100, 0, 800, 300}, flip, withDock), CGRect(908, 70, 300, 600));
}

TEST(PanelPlacer, FullScreenShowsAuxiliaryInsetAtTheRightEdgeInEveryMode) {
    for (auto mode : allModes)
        EXPECT_EQ(place(laptop, mode, laptopVisible, true), CGRect(1132, 267, 300, 600));
}

TEST(PanelPlacer, TinyVisibleFrameShrinksThePanelToFit) {
    const CGRect tiny{0, 0, 200, 400};
    EXPECT_EQ(place({500, 0, 300, 300}, flip, tiny), CGRect(0, 0, 200, 400));
    EXPECT_EQ(place({500, 0, 300, 300}, flip, tiny, true), CGRect(0, 0, 200, 400));
    EXPECT_EQ(place({500, 0, 300, 300}, hide, tiny), std::nullopt);
}

TEST(PanelPlacer, DegenerateInputShowsNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const CGRect finder{100, 200, 800, 500};
    for (auto mode : allModes) {
        EXPECT_EQ(place(finder, mode, {0, 0, 0, 875}), std::nullopt);
        EXPECT_EQ(place(finder, mode, {0, nan, 1440, 875}), std::nullopt);
        EXPECT_EQ(place(finder, mode, {1e308, 0, 1e308, 875}), std::nullopt);
        EXPECT_EQ(place({inf, 200, 800, 500}, mode), std::nullopt);
        EXPECT_EQ(place({100, 200, 800, nan}, mode, laptopVisible, true), std::nullopt);
    }
}

TEST(PanelPlacer, BestScreenTiesAndNoOverlap) {
    const std::vector<ScreenFrames> pair{{{0, 0, 1000, 800}, {0, 0, 1000, 775}},
                                         {{1000, 0, 1000, 800}, {1000, 0, 1000, 800}}};
    EXPECT_EQ(PanelPlacer::bestScreenIndex({900, 100, 200, 300}, pair), 0u); // even split
    EXPECT_EQ(PanelPlacer::bestScreenIndex({950, 100, 200, 300}, pair), 1u);
    EXPECT_EQ(PanelPlacer::bestScreenIndex({5000, 0, 100, 100}, pair), 1u);   // nearest centre
    EXPECT_EQ(PanelPlacer::bestScreenIndex({950, 2000, 100, 100}, pair), 0u); // equidistant
    EXPECT_EQ(PanelPlacer::bestScreenIndex({std::nan(""), 0, 10, 10}, pair), 0u);
    EXPECT_EQ(PanelPlacer::bestScreenIndex({0, 0, 10, 10}, {}), 0u);
}

// Side-by-side screens at random heights, some narrower or shorter than the panel, each with a
// menu bar and Dock taken out, and a window anywhere from fully on a screen to fully off it.
struct Scenario {
    std::vector<ScreenFrames> screens;
    CGRect finder;
};

Scenario randomScenario(std::mt19937& rng) {
    auto uniform = [&rng](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    Scenario s;
    double x = uniform(-4000, 400); // screens left of and below the main one go negative
    for (int n = std::uniform_int_distribution<int>(1, 4)(rng); n > 0; --n) {
        const CGRect frame{x, uniform(-1500, 400), uniform(160, 3000), uniform(240, 2000)};
        const double menuBar = uniform(0, 40), dock = uniform(0, 120);
        s.screens.push_back(
            {frame, {x, frame.minY() + dock, frame.width(), frame.height() - menuBar - dock}});
        x = frame.maxX();
    }
    const CGRect& on =
        s.screens[std::uniform_int_distribution<std::size_t>(0, s.screens.size() - 1)(rng)].frame;
    const double w = uniform(100, 1.3 * on.width()), h = uniform(100, 1.3 * on.height());
    s.finder = {uniform(on.minX() - w, on.maxX()), uniform(on.minY() - h, on.maxY()), w, h};
    return s;
}

TEST(PanelPlacerProperties, BestScreenHoldsTheMostOfTheWindow) {
    std::mt19937 rng(20240611);
    for (int i = 0; i < 5000; ++i) {
        const auto [screens, finder] = randomScenario(rng);
        const std::size_t best = PanelPlacer::bestScreenIndex(finder, screens);
        ASSERT_LT(best, screens.size());
        for (const auto& other : screens)
            ASSERT_GE(finder.intersectionArea(screens[best].frame),
                      finder.intersectionArea(other.frame))
                << "case " << i;
    }
}

TEST(PanelPlacerProperties, FramesFitTheVisibleFrameAndAvoidTheWindowWhenThereIsRoom) {
    std::mt19937 rng(7);
    for (int i = 0; i < 5000; ++i) {
        const auto [screens, finder] = randomScenario(rng);
        const auto& screen = screens[PanelPlacer::bestScreenIndex(finder, screens)];
        const CGRect& visible = screen.visibleFrame;
        const double w = std::min(300.0, visible.width()), h = std::min(600.0, visible.height());
        auto fits = [&](double x) { return x >= visible.minX() && x + w <= visible.maxX(); };
        const bool rightFits = fits(finder.maxX() + gap);
        const bool someSideFits = rightFits || fits(finder.minX() - gap - w);
        const bool topFits = finder.maxY() - h >= visible.minY() && finder.maxY() <= visible.maxY();
        SCOPED_TRACE(testing::Message() << "case " << i);

        for (bool fullscreen : {false, true}) {
            for (auto mode : allModes) {
                const auto frame =
                    PanelPlacer::compute(finder, screen.frame, visible, fullscreen, mode).frame;
                const bool mayHide = mode == hide && !fullscreen;
                ASSERT_EQ(frame.has_value(), !mayHide || someSideFits);
                if (!frame)
                    continue;
                ASSERT_TRUE(visible.contains(*frame)) << testing::PrintToString(*frame);
                ASSERT_EQ(frame->size, CGSize(w, h));
                if (fullscreen)
                    continue;
                if (topFits) {
                    ASSERT_NEAR(frame->maxY(), finder.maxY(), 1e-9);
                }
                if (mode != clamp && someSideFits) {
                    ASSERT_EQ(frame->intersectionArea(finder), 0);
                }
                if (rightFits) {
                    ASSERT_EQ(frame->minX(), finder.maxX() + gap);
                }
            }
        }
    }
}

} // namespace
