#include "tools/scenario/ScenarioRunner.h"

#include "Platform/Services.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/desktop/Menu.h"
#include "Platform/desktop/StatusBar.h"
#include "Platform/system/UserDirectories.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivlet/AppDelegate.h"
#include "ScrivletFinderSync/host/FinderSyncHost.h"
#include "tests/support/AppSession.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempHome.h"

#include <cstdint>
#include <fstream>
#include <ostream>
#include <sstream>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

std::string arguments(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " argument" : " arguments");
}

} // namespace

// "no arguments", "1 argument", "1 to 3 arguments", "at least 1 argument".
std::string describeArgumentCount(std::size_t fewest, std::size_t most) {
    if (most == 0) {
        return "no arguments";
    }
    if (fewest == most) {
        return arguments(most);
    }
    if (most == SIZE_MAX) {
        return "at least " + arguments(fewest);
    }
    return std::to_string(fewest) + " to " + arguments(most);
}

std::vector<std::string> splitScenarioLine(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, inWord = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && c == '#') {
            break;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord) {
                words.push_back(word);
                word.clear();
                inWord = false;
            }
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(word);
    }
    return words;
}

ScenarioRunner::ScenarioRunner(std::ostream& transcript) : out_(transcript) {
    registerVerbs();
}

ScenarioRunner::~ScenarioRunner() = default;

int ScenarioRunner::runFile(const fs::path& file) {
    std::ifstream in(file);
    if (!in) {
        out_ << "cannot read scenario " << file << "\n";
        return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    return runText(text.str(), file.filename().string());
}

int ScenarioRunner::runText(const std::string& text, const std::string& name) {
    scenarioName_ = name;
    failures_ = 0;
    lineNumber_ = 0;
    shownRecords_ = 0;
    appLogCursor_ = 0;
    storeSnapshot_.reset();
    windowNames_.clear();
    session_ = std::make_unique<AppSession>();
    out_ << "=== " << name << "\n";
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        ++lineNumber_;
        runLine(line);
    }
    session_.reset();
    out_ << (failures_ == 0 ? "=== passed: " : "=== FAILED: ") << name;
    if (failures_ > 0) {
        out_ << " (" << failures_ << " failed)";
    }
    out_ << "\n";
    return failures_;
}

void ScenarioRunner::runLine(const std::string& line) {
    std::vector<std::string> words = splitScenarioLine(line);
    for (std::string& word : words) {
        // $HOME stands for the session's temporary home.
        for (std::size_t at; (at = word.find("$HOME")) != std::string::npos;) {
            word.replace(at, 5, session_->home().path().string());
        }
    }
    if (words.empty()) {
        if (line.find('#') != std::string::npos) {
            out_ << line << "\n"; // comments narrate the transcript
        }
        return;
    }
    out_ << "> " << line << "\n";
    auto verb = verbs_.find(words[0]);
    if (verb == verbs_.end()) {
        fail("unknown verb \"" + words[0] + "\"");
        return;
    }
    runVerb(words[0], verb->second, Arguments(words.begin() + 1, words.end()));
    echoNewLogLines();
}

void ScenarioRunner::addVerb(const std::string& name, std::size_t fewest, std::size_t most,
                             std::function<void(const Arguments&)> run) {
    verbs_[name] = Verb{fewest, most, std::move(run)};
}

void ScenarioRunner::runVerb(const std::string& name, const Verb& verb, const Arguments& args) {
    if (args.size() < verb.fewest || args.size() > verb.most) {
        return fail(name + " takes " + describeArgumentCount(verb.fewest, verb.most) + ", not " +
                    std::to_string(args.size()));
    }
    // A verb that throws is a fault of this line only: the scenario reports it and goes on.
    try {
        verb.run(args);
    } catch (const std::exception& error) {
        fail(name + " stopped with an error: " + error.what());
    } catch (...) {
        fail(name + " stopped with an error");
    }
}

void ScenarioRunner::fail(const std::string& message) {
    ++failures_;
    out_ << "  FAILED (" << scenarioName_ << ":" << lineNumber_ << "): " << message << "\n";
}

void ScenarioRunner::echoNewLogLines() {
    const auto records = session_->log().records();
    for (std::size_t i = shownRecords_; i < records.size(); ++i) {
        const LogRecord& record = records[i];
        if (record.isNSLog) {
            out_ << "  NSLog: " << record.message << "\n";
        } else if (record.subsystem == "com.scrivlet") {
            out_ << "  log " << record.category << ": " << record.message << "\n";
        }
    }
    shownRecords_ = records.size();
}

} // namespace scrivlet
