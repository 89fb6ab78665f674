#pragma once

#include "Platform/backends/atspi/ViewReader.h"
#include "Platform/base/RunLoop.h"

#include <functional>
#include <thread>

namespace scrivlet::atspi {

// The thread that reads the file manager's view, so that a busy file manager never holds the
// main thread: every call to it waits there, on connections of the thread's own. The two
// threads share nothing: each request and each piece of news is a message handed over whole
// through a pipe (its ownership with it), the news read by the run loop like any descriptor.
class SelectionReaderThread {
public:
    using OnNews = std::function<void(const LookNews&)>;

    // `onNews` runs on the run loop's thread.
    SelectionReaderThread(RunLoop& loop, OnNews onNews, int callTimeoutMilliseconds);
    // Waits for the thread, which ends once the call it is in (if any) returns.
    ~SelectionReaderThread();
    SelectionReaderThread(const SelectionReaderThread&) = delete;
    SelectionReaderThread& operator=(const SelectionReaderThread&) = delete;

    // A look; the one under way, if any, is given up for it.
    void ask(const LookRequest& request);

private:
    void takeNews();

    RunLoop& loop_;
    OnNews onNews_;
    int requestPipe_[2] = {-1, -1};
    int newsPipe_[2] = {-1, -1};
    RunLoop::SourceID newsSource_{};
    std::thread thread_;
};

} // namespace scrivlet::atspi
