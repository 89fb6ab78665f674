// Scenario expectations on the simulated Finder itself: whether it runs, its windows, its
// focus and the selection its script would report.
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/backends/simulated/SimulatedFinder.h"
#include "Platform/control/DesktopControl.h"
#include "tests/support/AppSession.h"
#include "tools/scenario/ScenarioGeometry.h"
#include "tools/scenario/ScenarioRunner.h"

namespace scrivlet {

void ScenarioRunner::registerFinderExpectations() {
    addVerb("expect-finder", 1, anyCount, [this](const Arguments& args) {
        const SimulatedFinder& finder = session_->desktop().finder();
        const std::string what = args.empty() ? std::string() : args[0];
        if (what == "running" || what == "not-running") {
            return expect(finder.isRunning() == (what == "running"), "Finder is not " + what);
        }
        if (what == "focused" && args.size() == 2) {
            const std::optional<std::uint32_t> focused = finder.focusedWindow();
            if (args[1] == "none") {
                return expect(!focused, "a Finder window has the focus");
            }
            const auto number = namedWindow(args[1]);
            return expect(number && focused == number, args[1] + " does not have the focus");
        }
        if (what == "selection" && args.size() >= 2) {
            std::vector<std::string> paths;
            for (std::size_t i = 1; i < args.size() && args[1] != "none"; ++i) {
                paths.push_back(finderPath(args[i]));
            }
            return expect(finder.selection() == paths, "Finder's selection differs");
        }
        if (what == "window" && (args.size() == 3 || args.size() == 4)) {
            const auto number = namedWindow(args[1]);
            const SimulatedWindow* window =
                number ? session_->simulatedDesktop().window(*number) : nullptr;
            const bool fullScreen = args.size() == 4 && args[3] == "fullscreen";
            return expect(window && describeScenarioRect(window->bounds) == args[2] &&
                              window->fullScreen == fullScreen,
                          "window " + args[1] + " is " +
                              (window ? describeScenarioRect(window->bounds) : "closed"));
        }
        fail("expect-finder running|not-running|focused NAME|none|selection PATH...|none|"
             "window NAME RECT [fullscreen]");
    });
}

} // namespace scrivlet
