#include "Platform/system/DarwinNotifyObservation.h"

namespace scrivlet {

std::unique_ptr<DarwinNotifyObservation>
DarwinNotifyObservation::add(const std::string& name, Callback callback, std::error_code& error) {
    std::unique_ptr<NotifyObserver> observer = NotifyObserver::create(name, error);
    if (!observer) {
        return nullptr;
    }
    return std::unique_ptr<DarwinNotifyObservation>(
        new DarwinNotifyObservation(std::move(observer), std::move(callback)));
}

DarwinNotifyObservation::DarwinNotifyObservation(std::unique_ptr<NotifyObserver> observer,
                                                 Callback callback)
    : observer_(std::move(observer)), callback_(std::move(callback)) {
    source_ = RunLoop::main().addFileDescriptorSource(observer_->fileDescriptor(),
                                                      [this] { readable(); });
}

DarwinNotifyObservation::~DarwinNotifyObservation() {
    if (RunLoop::hasMain()) {
        RunLoop::main().removeSource(source_);
    }
}

void DarwinNotifyObservation::readable() {
    // The source must consume what woke it, also when the wake-up was another name's.
    if (observer_->consumePendingNotices() > 0 && callback_) {
        callback_();
    }
}

} // namespace scrivlet
