#include "Platform/backends/simulated/SimulatedDesktop.h"
#include "Platform/base/RunLoop.h"
#include "Platform/desktop/Application.h"

namespace scrivlet {

void SimulatedDesktop::connectFinderSync() {
    finderSync_.setSelectionSource([this]() -> std::optional<std::vector<URL>> {
        if (finderSyncSelection_) {
            return finderSyncSelection_;
        }
        if (!finder_.isRunning()) {
            return std::nullopt;
        }
        std::vector<URL> urls;
        for (const std::string& path : finder_.selection()) {
            urls.push_back(URL::fileURL(path));
        }
        return urls;
    });
}

bool SimulatedDesktop::hasSystemSymbol(const std::string& name) const {
    return !name.empty() && !missingSymbols_.contains(name);
}

bool SimulatedDesktop::openURL(const URL& url) {
    return urlOpener_ ? urlOpener_(url) : Application::deliverURLLater(url);
}

} // namespace scrivlet
