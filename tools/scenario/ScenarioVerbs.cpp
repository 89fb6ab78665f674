// The scenario language: one verb per line. See README.md beside this file.
#include "Platform/Services.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/control/InputText.h"
#include "Platform/desktop/StatusBar.h"
#include "Platform/system/UserDirectories.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivlet/AppDelegate.h"
#include "tests/support/AppSession.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempHome.h"
#include "tools/scenario/ScenarioGeometry.h"
#include "tools/scenario/ScenarioRunner.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <ostream>
#include <sstream>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

// A `*` matches any run of characters.
bool matches(std::string_view pattern, std::string_view text) {
    const std::size_t star = pattern.find('*');
    if (star == std::string_view::npos) {
        return pattern == text;
    }
    if (!text.starts_with(pattern.substr(0, star))) {
        return false;
    }
    const std::string_view rest = pattern.substr(star + 1);
    for (std::size_t at = star; at <= text.size(); ++at) {
        if (matches(rest, text.substr(at))) {
            return true;
        }
    }
    return false;
}

// "1440x900" or "1920x1080@1440,0"; the menu bar takes 25 points off the top.
std::optional<Screen> parseScreen(const std::string& text) {
    std::optional<CGRect> frame = parseScenarioRect(text);
    if (!frame && text.find('@') == std::string::npos) {
        if (const auto size = parseScenarioSize(text)) {
            frame = CGRect(0, 0, size->width, size->height);
        }
    }
    if (!frame || frame->width() <= 0 || frame->height() <= 0) {
        return std::nullopt;
    }
    const CGRect& f = *frame;
    return Screen{f, CGRect(f.minX(), f.minY(), f.width(), f.height() - 25)};
}

// The longest a scenario may move the clock in one step; longer is surely a typo.
constexpr double longestWait = 3600;

// The words each expectation takes after its name.
struct ExpectationShape {
    std::string_view name;
    std::size_t fewest;
    std::size_t most;
};

constexpr ExpectationShape expectationShapes[] = {
    {"log", 1, 1},
    {"no-log", 1, 1},
    {"log-count", 1, 2},
    {"nslog-count", 1, 2},
    {"nslog", 1, 1},
    {"status-item", 0, 0},
    {"no-status-item", 0, 0},
    {"menu", 0, SIZE_MAX},
    {"enabled", 1, 1},
    {"disabled", 1, 1},
    {"terminated", 0, 0},
    {"running", 0, 0},
    {"store-unchanged", 0, 0},
    {"autostart", 0, 0},
};

// What is wrong with the shape of an `expect` line, if anything.
std::optional<std::string> expectationShapeProblem(const std::vector<std::string>& args) {
    for (const ExpectationShape& shape : expectationShapes) {
        if (args[0] != shape.name) {
            continue;
        }
        const std::size_t given = args.size() - 1;
        if (given < shape.fewest || given > shape.most) {
            return "expect " + args[0] + " takes " +
                   describeArgumentCount(shape.fewest, shape.most) + ", not " +
                   std::to_string(given);
        }
        return std::nullopt;
    }
    return "unknown expectation \"" + args[0] + "\"";
}

} // namespace

void ScenarioRunner::registerVerbs() {
    registerSetupVerbs();
    registerActionVerbs();
    registerExpectations();
    registerFinderVerbs();
    registerFinderExpectations();
    registerPanelVerbs();
    registerExtensionVerbs();
    registerPanelExpectations();
    registerTagVerbs();
    registerDesktopCommands();
    registerURLVerbs();
}

void ScenarioRunner::expect(bool condition, const std::string& failure) {
    if (condition) {
        out_ << "  ok\n";
    } else {
        fail(failure);
    }
}

std::vector<std::string> ScenarioRunner::logMessages(const std::string& category) const {
    std::vector<std::string> messages;
    for (const LogRecord& record : session_->log().records()) {
        if (category.empty() ? record.isNSLog
                             : (!record.isNSLog && record.subsystem == "com.scrivlet" &&
                                record.category == category)) {
            messages.push_back(record.message);
        }
    }
    return messages;
}

void ScenarioRunner::registerSetupVerbs() {
    addVerb("screens", 1, anyCount, [this](const Arguments& args) {
        std::vector<Screen> screens;
        for (const std::string& text : args) {
            if (text == "none") {
                continue;
            }
            if (auto screen = parseScreen(text)) {
                screens.push_back(*screen);
            } else {
                return fail("cannot read screen \"" + text + "\" (WIDTHxHEIGHT[@X,Y])");
            }
        }
        session_->desktop().setScreens(std::move(screens));
        session_->desktop().settle();
    });
    addVerb("file", 1, 2, [this](const Arguments& args) {
        session_->home().makeFile(args[0], args.size() > 1 ? args[1] : "");
    });
    addVerb("store-file", 0, 1, [this](const Arguments& args) {
        const fs::path store = AnnotationStore::defaultPath();
        fs::create_directories(store.parent_path());
        storeSnapshot_ = args.empty() ? std::string() : args[0];
        std::ofstream(store, std::ios::binary) << *storeSnapshot_;
    });
    addVerb("store-folder", 0, 0,
            [this](const Arguments&) { fs::create_directories(AnnotationStore::defaultPath()); });
    addVerb("break-container", 0, 0, [this](const Arguments&) {
        const fs::path container = UserDirectories::groupContainer();
        fs::create_directories(container.parent_path());
        std::ofstream(container) << "a file where the shared folder belongs\n";
    });
    addVerb("break-autostart", 0, 0, [this](const Arguments&) {
        const fs::path autostart = UserDirectories::configHome() / "autostart";
        fs::create_directories(autostart.parent_path());
        std::ofstream(autostart) << "a file where the autostart folder belongs\n";
    });
}

void ScenarioRunner::registerActionVerbs() {
    addVerb("launch", 0, 0, [this](const Arguments&) { session_->launch(); });
    addVerb("exit", 0, 0, [this](const Arguments&) {
        if (!session_->isTerminated()) {
            return fail("the app has not terminated; quit it first");
        }
        session_->exitProcess();
    });
    addVerb("url", 1, anyCount, [this](const Arguments& args) {
        std::vector<URL> urls;
        for (const std::string& text : args) {
            auto url = URL::fromString(text);
            if (!url) {
                return fail("not a URL: " + text);
            }
            urls.push_back(*url);
        }
        session_->deliverURLs(urls);
    });
    addVerb("wait", 1, 1, [this](const Arguments& args) {
        const auto seconds = parseDecimalNumber(args[0], 0, longestWait);
        if (!seconds) {
            return fail("wait needs seconds from 0 to " + std::to_string(int(longestWait)) +
                        ", not \"" + args[0] + "\"");
        }
        session_->advance(*seconds);
    });
    addVerb("show", 0, 0, [this](const Arguments&) {
        for (const std::string& line : session_->desktop().describeStatusBar()) {
            out_ << "  " << line << "\n";
        }
        out_ << "  app " << (session_->isTerminated() ? "terminated" : "running") << "\n";
    });
}

void ScenarioRunner::registerExpectations() {
    addVerb("expect", 1, anyCount, [this](const Arguments& args) {
        if (const auto problem = expectationShapeProblem(args)) {
            return fail(*problem);
        }
        const std::string& what = args[0];
        const std::string text = args.size() > 1 ? args[1] : std::string();
        if (what == "log") {
            const auto messages = logMessages("app");
            for (std::size_t i = appLogCursor_; i < messages.size(); ++i) {
                if (matches(text, messages[i])) {
                    appLogCursor_ = i + 1;
                    return expect(true, "");
                }
            }
            return fail("no app log line \"" + text + "\" after the previous one");
        }
        if (what == "no-log") {
            const auto messages = logMessages("app");
            return expect(std::none_of(messages.begin(), messages.end(),
                                       [&](const auto& m) { return matches(text, m); }),
                          "the app logged \"" + text + "\"");
        }
        if (what == "log-count" || what == "nslog-count") {
            // An optional pattern counts only the matching lines.
            const auto wanted = parseWholeNumber(text, 0, 1'000'000);
            if (!wanted) {
                return fail(what + " needs a count, not \"" + text + "\"");
            }
            const auto messages = logMessages(what == "log-count" ? "app" : "");
            const auto count =
                args.size() > 2 ? std::count_if(messages.begin(), messages.end(),
                                                [&](const auto& m) { return matches(args[2], m); })
                                : static_cast<std::ptrdiff_t>(messages.size());
            return expect(count == *wanted,
                          what + " is " + std::to_string(count) + ", not " + text);
        }
        if (what == "nslog") {
            const auto messages = logMessages("");
            return expect(std::any_of(messages.begin(), messages.end(),
                                      [&](const auto& m) { return matches(text, m); }),
                          "no NSLog line \"" + text + "\"");
        }
        if (what == "status-item" || what == "no-status-item") {
            const bool present = !session_->desktop().statusItems().empty();
            return expect(present == (what == "status-item"),
                          present ? "a status item exists" : "there is no status item");
        }
        if (what == "menu") {
            std::vector<std::string> titles;
            for (const auto& entry : session_->desktop().openMenuEntries()) {
                titles.push_back(entry.isSeparator ? "-" : entry.title);
            }
            const Arguments wanted(args.begin() + 1, args.end());
            return expect(titles == wanted, "the open menu differs");
        }
        if (what == "enabled" || what == "disabled") {
            for (const auto& entry : session_->desktop().openMenuEntries()) {
                if (!entry.isSeparator && entry.title == text) {
                    return expect(entry.isEnabled == (what == "enabled"),
                                  "\"" + text + "\" is not " + what);
                }
            }
            return fail("the open menu has no \"" + text + "\"");
        }
        if (what == "terminated" || what == "running") {
            return expect(session_->isTerminated() == (what == "terminated"),
                          "the app is not " + what);
        }
        if (what == "store-unchanged") {
            std::ifstream in(AnnotationStore::defaultPath(), std::ios::binary);
            std::stringstream now;
            now << in.rdbuf();
            return expect(storeSnapshot_ && now.str() == *storeSnapshot_, "the store file changed");
        }
        if (what == "autostart") {
            const fs::path entry =
                UserDirectories::configHome() / "autostart" / "com.scrivlet.Scrivlet.desktop";
            return expect(fs::exists(entry), "no autostart entry at " + entry.string());
        }
        fail("unknown expectation \"" + what + "\"");
    });
}

} // namespace scrivlet
