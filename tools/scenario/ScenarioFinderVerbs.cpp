// Scenario verbs for Finder, its windows and selection, and the accessibility permission.
#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/backends/simulated/SimulatedFinder.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/control/InputText.h"
#include "tests/support/AppSession.h"
#include "tests/support/TempHome.h"
#include "tools/scenario/ScenarioGeometry.h"
#include "tools/scenario/ScenarioRunner.h"

#include <ostream>

namespace scrivlet {

namespace {

// "800x600@100,50": size and top-left position (window-server coordinates).
std::optional<CGRect> parseWindowRect(const std::string& text) {
    const auto rect = parseScenarioRect(text);
    return rect && rect->width() > 0 && rect->height() > 0 ? rect : std::nullopt;
}

// Moves over time are animated at 60 steps a second; this keeps a typo from running for hours.
constexpr double longestMotion = 600;

} // namespace

std::optional<std::uint32_t> ScenarioRunner::namedWindow(const std::string& name) {
    const auto found = windowNames_.find(name);
    if (found == windowNames_.end()) {
        fail("no Finder window named \"" + name + "\"");
        return std::nullopt;
    }
    return found->second;
}

std::string ScenarioRunner::finderPath(const std::string& text) const {
    return text.starts_with('/') ? text : (session_->home().path() / text).string();
}

void ScenarioRunner::registerFinderVerbs() {
    addVerb("finder", 1, anyCount, [this](const Arguments& args) {
        SimulatedFinder& finder = session_->desktop().finder();
        const std::string& what = args[0];
        const Arguments rest(args.begin() + 1, args.end());
        if (what == "launch") {
            out_ << "  Finder runs as process " << finder.launch() << "\n";
        } else if (what == "quit") {
            finder.quit();
            windowNames_.clear();
        } else if (what == "window" && rest.size() >= 2) {
            const auto rect = parseWindowRect(rest[1]);
            if (!rect) {
                return fail("window needs NAME WIDTHxHEIGHT@X,Y [dialog]");
            }
            const bool dialog = rest.size() > 2 && rest[2] == "dialog";
            windowNames_[rest[0]] =
                finder.openWindow(*rect, dialog ? "AXDialog" : "AXStandardWindow");
        } else if ((what == "focus" || what == "close") && rest.size() == 1) {
            if (auto number = namedWindow(rest[0])) {
                what == "focus" ? finder.focusWindow(*number) : finder.closeWindow(*number);
            }
        } else if (what == "move" && rest.size() == 2) {
            auto number = namedWindow(rest[0]);
            auto point = parseScenarioPoint(rest[1]);
            if (number && point) {
                finder.moveWindow(*number, *point);
            } else if (number) {
                fail("move needs NAME X,Y");
            }
        } else if (what == "resize" && rest.size() == 2) {
            auto number = namedWindow(rest[0]);
            auto size = parseScenarioSize(rest[1]);
            if (number && size) {
                finder.resizeWindow(*number, *size);
            } else if (number) {
                fail("resize needs NAME WIDTHxHEIGHT");
            }
        } else if ((what == "drag" || what == "drag-resize") && rest.size() == 3) {
            auto number = namedWindow(rest[0]);
            if (!number) {
                return;
            }
            const auto seconds = parseDecimalNumber(rest[2], 0, longestMotion);
            if (!seconds) {
                return fail(what + " needs seconds from 0 to " +
                            std::to_string(int(longestMotion)) + ", not \"" + rest[2] + "\"");
            }
            if (auto point = what == "drag" ? parseScenarioPoint(rest[1]) : std::nullopt) {
                finder.dragWindow(*number, *point, *seconds);
            } else if (auto size =
                           what == "drag-resize" ? parseScenarioSize(rest[1]) : std::nullopt) {
                finder.resizeWindowOverTime(*number, *size, *seconds);
            } else {
                return fail(what + " needs NAME " + (what == "drag" ? "X,Y" : "WxH") + " SECONDS");
            }
        } else if (what == "nudge" && rest.size() == 2) {
            // The window server sees the window elsewhere, with no notification: a moment in
            // the middle of a drag.
            auto number = namedWindow(rest[0]);
            auto point = parseScenarioPoint(rest[1]);
            SimulatedWindow* window =
                number ? session_->simulatedDesktop().window(*number) : nullptr;
            if (!window || !point) {
                return fail("nudge needs NAME X,Y");
            }
            window->bounds.origin = *point;
        } else if (what == "fullscreen" && rest.size() == 2) {
            if (auto number = namedWindow(rest[0])) {
                finder.setFullScreen(*number, rest[1] == "on");
            }
        } else if (what == "select" || what == "select-rows") {
            std::vector<std::string> paths;
            for (const std::string& item : rest) {
                if (item != "none") {
                    paths.push_back(finderPath(item));
                }
            }
            finder.select(paths,
                          what == "select" ? "AXSelectedChildrenChanged" : "AXSelectedRowsChanged");
        } else {
            return fail("unknown finder action; see tools/scenario/README.md");
        }
        session_->desktop().settle();
    });
    addVerb("app", 3, 3, [this](const Arguments& args) {
        if (args[0] != "launch") {
            return fail("app launch NAME BUNDLE-IDENTIFIER");
        }
        session_->simulatedDesktop().launchApplication(args[2], args[1]);
        session_->desktop().settle();
    });
    addVerb("activate", 1, 1, [this](const Arguments& args) {
        SimulatedDesktop& desktop = session_->simulatedDesktop();
        for (const RunningApplicationInfo& app : desktop.runningApplications()) {
            if (app.localizedName == args[0]) {
                desktop.activateApplication(app.processIdentifier);
                session_->desktop().settle();
                return;
            }
        }
        fail("no running application named \"" + args[0] + "\"");
    });
    addVerb("space", 1, 1, [this](const Arguments& args) {
        if (args[0] != "change") {
            return fail("space change");
        }
        session_->simulatedDesktop().changeSpace();
        session_->desktop().settle();
    });
    addVerb("accessibility", 1, 1, [this](const Arguments& args) {
        if (args[0] != "grant" && args[0] != "revoke") {
            return fail("accessibility grant|revoke");
        }
        session_->desktop().setAccessibilityTrusted(args[0] == "grant");
    });
    addVerb("show-finder", 0, 0, [this](const Arguments&) {
        const SimulatedFinder& finder = session_->desktop().finder();
        if (!finder.isRunning()) {
            out_ << "  Finder is not running\n";
            return;
        }
        for (const auto& [name, number] : windowNames_) {
            const SimulatedWindow* window = session_->simulatedDesktop().window(number);
            if (window) {
                out_ << "  window " << name << " " << describeScenarioRect(window->bounds)
                     << (window->subrole == "AXStandardWindow" ? "" : " (" + window->subrole + ")")
                     << (finder.focusedWindow() == number ? " focused" : "") << "\n";
            }
        }
        out_ << "  selection:";
        const std::string home = session_->home().path().string();
        for (const std::string& path : finder.selection()) {
            out_ << " " << (path.starts_with(home + "/") ? "~" + path.substr(home.size()) : path);
        }
        out_ << (finder.selection().empty() ? " none\n" : "\n");
    });
}

} // namespace scrivlet
