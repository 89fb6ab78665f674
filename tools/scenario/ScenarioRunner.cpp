#include "scenario/ScenarioRunner.h"

#include "Platform/Menu.h"
#include "Platform/Services.h"
#include "Platform/StatusBar.h"
#include "Platform/UserDirectories.h"
#include "Platform/control/DesktopControl.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivlet/AppDelegate.h"
#include "session/AppSession.h"
#include "session/LogCapture.h"
#include "session/TempHome.h"

#include <fstream>
#include <ostream>
#include <sstream>

namespace scrivlet {

namespace fs = std::filesystem;

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
    verb->second(Arguments(words.begin() + 1, words.end()));
    echoNewLogLines();
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
