#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/RunLoop.h"
#include "Platform/system/DarwinNotifyCenter.h"

#include <functional>
#include <memory>
#include <string>
#include <system_error>

namespace scrivlet {

// An observer of one Darwin notice name, registered on the main run loop: every wake-up runs
// the callback on that loop as soon as the loop sees it, in every mode (the notify center's
// "deliver immediately"), whichever process posted. Several posts that arrive together run it
// once. Destroying the object removes the observer.
class SCRIVLET_PLATFORM_API DarwinNotifyObservation {
public:
    using Callback = std::function<void()>;

    // Null, with `error` set, when the notice cannot be watched.
    static std::unique_ptr<DarwinNotifyObservation> add(const std::string& name, Callback callback,
                                                        std::error_code& error);
    ~DarwinNotifyObservation();
    DarwinNotifyObservation(const DarwinNotifyObservation&) = delete;
    DarwinNotifyObservation& operator=(const DarwinNotifyObservation&) = delete;

private:
    DarwinNotifyObservation(std::unique_ptr<NotifyObserver> observer, Callback callback);
    void readable();

    std::unique_ptr<NotifyObserver> observer_;
    Callback callback_;
    RunLoop::SourceID source_ = 0;
};

} // namespace scrivlet
