#pragma once

#include "Platform/control/ViewInspection.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace scrivlet {

class AppSession;
class FinderSyncHost;
class Panel;

// Runs a scenario: a plain-text script of user actions and expectations played against the
// simulated desktop with the real app code in this process, on a virtual clock. Every step
// is echoed to `transcript` with what it caused (log lines, what is on screen).
class ScenarioRunner {
public:
    explicit ScenarioRunner(std::ostream& transcript);
    ~ScenarioRunner();

    // Answers the number of failed expectations. A bad line (an unknown verb, the wrong number
    // of arguments, a number that cannot be read) counts too, and the scenario goes on.
    int runFile(const std::filesystem::path& file);
    int runText(const std::string& text, const std::string& name = "scenario");

private:
    using Arguments = std::vector<std::string>;
    static constexpr std::size_t anyCount = SIZE_MAX;
    // A verb with the number of arguments it takes, checked before it runs.
    struct Verb {
        std::size_t fewest = 0;
        std::size_t most = 0;
        std::function<void(const Arguments&)> run;
    };

    void addVerb(const std::string& name, std::size_t fewest, std::size_t most,
                 std::function<void(const Arguments&)> run);
    void registerVerbs();
    void registerSetupVerbs();
    void registerActionVerbs();
    void registerExpectations();
    void registerFinderVerbs();
    void registerFinderExpectations();
    void registerPanelVerbs();
    void registerPanelExpectations();
    void registerTagVerbs();
    void registerDesktopCommands();
    void registerURLVerbs();
    void registerExtensionVerbs();
    bool requireExtension();
    std::shared_ptr<Panel> appPanel() const;
    std::optional<ui::ViewInspector> panelContent();
    std::optional<std::uint32_t> namedWindow(const std::string& name);
    std::string finderPath(const std::string& text) const;
    void expect(bool condition, const std::string& failure);
    std::vector<std::string> logMessages(const std::string& category) const;
    void runLine(const std::string& line);
    void runVerb(const std::string& name, const Verb& verb, const Arguments& args);
    void fail(const std::string& message);
    void echoNewLogLines();

    std::ostream& out_;
    std::unique_ptr<AppSession> session_;
    std::map<std::string, Verb> verbs_;
    std::string scenarioName_;
    int lineNumber_ = 0;
    int failures_ = 0;
    std::size_t shownRecords_ = 0;
    // "expect log" looks for its line after the one the previous expectation matched.
    std::size_t appLogCursor_ = 0;
    // The store file as a setup verb wrote it, for "expect store-unchanged".
    std::optional<std::string> storeSnapshot_;
    // Finder windows by the names the scenario gave them.
    std::map<std::string, std::uint32_t> windowNames_;
    // Finder's side of the extension, loaded by the first extension verb; the context menu
    // it showed last.
    std::unique_ptr<FinderSyncHost> extensionHost_;
    std::vector<std::string> shownMenuItems_;
};

// Splits a scenario line into words; "double quotes" keep spaces, # starts a comment.
std::vector<std::string> splitScenarioLine(const std::string& line);

// "no arguments", "1 argument", "1 to 3 arguments", "at least 1 argument" (most: anyCount).
std::string describeArgumentCount(std::size_t fewest, std::size_t most);

} // namespace scrivlet
