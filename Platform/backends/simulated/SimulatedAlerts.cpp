// Alerts and revealing files on the simulated desktop.
#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/desktop/Application.h"

#include <algorithm>

namespace scrivlet {

void SimulatedDesktop::scriptAlertAnswer(std::string buttonTitle,
                                         std::function<void()> whileShown) {
    alertAnswers_.push_back({std::move(buttonTitle), std::move(whileShown)});
}

ModalResponse SimulatedDesktop::runModalAlert(const AlertContents& alert) {
    ShownAlert shown{alert, Application::hasShared() && Application::shared().isActive(),
                     std::nullopt};
    if (alertAnswers_.empty()) {
        shownAlerts_.push_back(std::move(shown));
        return NSModalResponseAbort;
    }
    AlertAnswer answer = std::move(alertAnswers_.front());
    alertAnswers_.pop_front();
    if (answer.whileShown) {
        answer.whileShown();
    }
    const auto button = std::find(alert.buttons.begin(), alert.buttons.end(), answer.buttonTitle);
    if (button == alert.buttons.end()) {
        shownAlerts_.push_back(std::move(shown));
        return NSModalResponseAbort;
    }
    shown.answer = answer.buttonTitle;
    shownAlerts_.push_back(std::move(shown));
    return NSAlertFirstButtonReturn + (button - alert.buttons.begin());
}

std::size_t SimulatedDesktop::unansweredAlertCount() const {
    return static_cast<std::size_t>(std::count_if(shownAlerts_.begin(), shownAlerts_.end(),
                                                  [](const ShownAlert& a) { return !a.answer; }));
}

void SimulatedDesktop::revealInFileManager(const std::vector<std::string>& paths) {
    revealed_.push_back(paths);
    if (!finder_.isRunning()) {
        finder_.launch();
    }
    if (!finder_.focusedWindow()) {
        finder_.openWindow(CGRect(120, 120, 800, 500));
    }
    finder_.select(paths);
    if (const auto finder = finder_.processIdentifier()) {
        activateApplication(*finder);
    }
}

} // namespace scrivlet
