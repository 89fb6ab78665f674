// The scenario language: one verb per line. See README.md beside this file.
#include "Platform/Services.h"
#include "Platform/StatusBar.h"
#include "Platform/UserDirectories.h"
#include "Platform/control/DesktopCommands.h"
#include "Platform/control/DesktopControl.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivlet/AppDelegate.h"
#include "scenario/ScenarioRunner.h"
#include "session/AppSession.h"
#include "session/LogCapture.h"
#include "session/TempHome.h"

#include <algorithm>
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
    double width = 0, height = 0, x = 0, y = 0;
    char separator = 0, at = 0, comma = 0;
    std::istringstream in(text);
    in >> width >> separator >> height;
    if (!in || separator != 'x' || width <= 0 || height <= 0) {
        return std::nullopt;
    }
    if (in >> at) {
        in >> x >> comma >> y;
        if (!in || at != '@' || comma != ',') {
            return std::nullopt;
        }
    }
    return Screen{CGRect(x, y, width, height), CGRect(x, y, width, height - 25)};
}

} // namespace

void ScenarioRunner::registerVerbs() {
    registerSetupVerbs();
    registerActionVerbs();
    registerExpectations();
    registerFinderVerbs();
    registerPanelVerbs();
    registerPanelExpectations();
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
    verbs_["screens"] = [this](const Arguments& args) {
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
    };
    verbs_["file"] = [this](const Arguments& args) {
        if (args.empty()) {
            return fail("file needs a path below the home");
        }
        session_->home().makeFile(args[0], args.size() > 1 ? args[1] : "");
    };
    verbs_["store-file"] = [this](const Arguments& args) {
        const fs::path store = AnnotationStore::defaultPath();
        fs::create_directories(store.parent_path());
        storeSnapshot_ = args.empty() ? std::string() : args[0];
        std::ofstream(store, std::ios::binary) << *storeSnapshot_;
    };
    verbs_["store-folder"] = [this](const Arguments&) {
        fs::create_directories(AnnotationStore::defaultPath());
    };
    verbs_["break-container"] = [this](const Arguments&) {
        const fs::path container = UserDirectories::groupContainer();
        fs::create_directories(container.parent_path());
        std::ofstream(container) << "a file where the shared folder belongs\n";
    };
    verbs_["break-autostart"] = [this](const Arguments&) {
        const fs::path autostart = UserDirectories::configHome() / "autostart";
        fs::create_directories(autostart.parent_path());
        std::ofstream(autostart) << "a file where the autostart folder belongs\n";
    };
}

void ScenarioRunner::registerActionVerbs() {
    verbs_["launch"] = [this](const Arguments&) { session_->launch(); };
    verbs_["exit"] = [this](const Arguments&) {
        if (!session_->isTerminated()) {
            return fail("the app has not terminated; quit it first");
        }
        session_->exitProcess();
    };
    verbs_["url"] = [this](const Arguments& args) {
        std::vector<URL> urls;
        for (const std::string& text : args) {
            auto url = URL::fromString(text);
            if (!url) {
                return fail("not a URL: " + text);
            }
            urls.push_back(*url);
        }
        session_->deliverURLs(urls);
    };
    verbs_["open-menu"] = [this](const Arguments& args) {
        const std::size_t index = args.empty() ? 0 : std::stoul(args[0]);
        if (!session_->desktop().openStatusMenu(index)) {
            return fail("there is no status item menu to open");
        }
        for (const std::string& line : session_->desktop().describeOpenMenu()) {
            out_ << line << "\n";
        }
    };
    verbs_["close-menu"] = [this](const Arguments&) { session_->desktop().closeMenu(); };
    verbs_["choose"] = [this](const Arguments& args) {
        if (args.size() != 1 || !session_->desktop().chooseMenuItem(args[0])) {
            fail("cannot choose \"" + (args.empty() ? std::string() : args[0]) +
                 "\": the menu is closed, or the item is missing or disabled");
        }
    };
    verbs_["press"] = [this](const Arguments& args) {
        auto key = args.size() == 1 ? parseKeyChord(args[0]) : std::nullopt;
        if (!key) {
            return fail("press needs one key such as Command-q");
        }
        if (!session_->desktop().pressKey(key->first, key->second)) {
            out_ << "  (no menu item answers " << args[0] << ")\n";
        }
    };
    verbs_["wait"] = [this](const Arguments& args) {
        if (args.size() != 1) {
            return fail("wait needs a number of seconds");
        }
        session_->advance(std::stod(args[0]));
    };
    verbs_["show"] = [this](const Arguments&) {
        for (const std::string& line : session_->desktop().describeStatusBar()) {
            out_ << "  " << line << "\n";
        }
        out_ << "  app " << (session_->isTerminated() ? "terminated" : "running") << "\n";
    };
}

void ScenarioRunner::registerExpectations() {
    verbs_["expect"] = [this](const Arguments& args) {
        if (args.empty()) {
            return fail("expect what?");
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
            const auto messages = logMessages(what == "log-count" ? "app" : "");
            const auto count =
                args.size() > 2 ? std::count_if(messages.begin(), messages.end(),
                                                [&](const auto& m) { return matches(args[2], m); })
                                : static_cast<std::ptrdiff_t>(messages.size());
            return expect(std::to_string(count) == text,
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
    };
}

} // namespace scrivlet
