#include "Platform/backends/filemanager/FileManagerDesktop.h"

namespace scrivlet {

FileManagerDesktop::FileManagerDesktop(std::set<std::string> symbols, URLOpener opener)
    : symbols_(std::move(symbols)), opener_(std::move(opener)) {
    // The file manager keeps each file's emblems itself; answers are not kept here.
    controller_.setKeepsBadges(false);
    controller_.setSelectionSource(
        [this]() -> std::optional<std::vector<URL>> { return selected_; });
}

FileManagerDesktop::~FileManagerDesktop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
}

AXError FileManagerDesktop::readAttribute(const AXUIElement& /*element*/,
                                          const std::string& /*attribute*/,
                                          AXAttributeValue& /*value*/) const {
    return AXError::apiDisabled;
}

AXError FileManagerDesktop::registerObserver(const AXObserverRef& /*observer*/) {
    return AXError::apiDisabled;
}

ScriptReply FileManagerDesktop::runScript(const std::string& /*source*/) {
    return {std::nullopt,
            {{"NSAppleScriptErrorNumber", "-600"},
             {"NSAppleScriptErrorMessage", "no scripting inside a file manager"}}};
}

ModalResponse FileManagerDesktop::runModalAlert(const AlertContents& /*alert*/) {
    return NSModalResponseAbort;
}

bool FileManagerDesktop::openURL(const URL& url) {
    const std::lock_guard lock(mutex_);
    if (stopping_ || !opener_) {
        return false;
    }
    queued_.push_back(url);
    if (!worker_.joinable()) {
        worker_ = std::thread([this] { openQueuedURLs(); });
    }
    changed_.notify_all();
    return true;
}

void FileManagerDesktop::openQueuedURLs() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !queued_.empty(); });
        // URLs already opened are still handed over when the process ends: the user chose them.
        if (queued_.empty()) {
            return;
        }
        const URL url = std::move(queued_.front());
        queued_.pop_front();
        lock.unlock();
        try {
            opener_(url);
        } catch (...) {
            // A failed open is not reported (the extension does not look at it either).
        }
        lock.lock();
    }
}

} // namespace scrivlet
