#include "Platform/backends/atspi/GLibContextPump.h"

#include <algorithm>
#include <cstdio>
#include <glib.h>
#include <poll.h>

namespace scrivlet::atspi {

namespace {

// Rounds of dispatch in one pump before the run loop gets its turn back: a context that is
// always ready (a busy idle callback) must not starve the loop's own sources and timers.
constexpr int maxRoundsPerPump = 64;
// A descriptor GLib wants to write to is polled this often; the run loop watches readability
// only, and D-Bus asks for it just while a full socket holds outgoing messages back.
constexpr double writablePollSeconds = 0.005;

GMainContext* asContext(void* context) {
    return static_cast<GMainContext*>(context);
}

} // namespace

GLibContextPump::GLibContextPump(RunLoop& loop, void* context) : loop_(loop), context_(context) {
    loop_.assertOwnerThread("GLibContextPump::GLibContextPump");
    g_main_context_ref(asContext(context_));
    acquired_ = g_main_context_acquire(asContext(context_)) != FALSE;
    if (!acquired_) {
        std::fprintf(stderr, "GLibContextPump: the main context belongs to another thread\n");
    }
}

GLibContextPump::~GLibContextPump() {
    *alive_ = false;
    for (const auto& [fd, source] : sources_) {
        loop_.removeSource(source);
    }
    if (timer_) {
        loop_.invalidateTimer(*timer_);
    }
    if (acquired_) {
        g_main_context_release(asContext(context_));
    }
    g_main_context_unref(asContext(context_));
}

void GLibContextPump::pumpSoon() {
    if (pumpPosted_) {
        return;
    }
    pumpPosted_ = true;
    loop_.async([this, alive = std::weak_ptr<bool>(alive_)] {
        if (const auto still = alive.lock(); still && *still) {
            pumpPosted_ = false;
            pump();
        }
    });
}

void GLibContextPump::pump() {
    if (!acquired_) {
        return;
    }
    // A callback dispatched from here may end up asking for another pump.
    if (pumping_) {
        pumpSoon();
        return;
    }
    pumping_ = true;
    GMainContext* context = asContext(context_);
    std::vector<GPollFD> fds(8);
    for (int round = 0; round < maxRoundsPerPump; ++round) {
        gint maxPriority = 0;
        g_main_context_prepare(context, &maxPriority);
        gint timeout = -1;
        gint count = 0;
        while ((count = g_main_context_query(context, maxPriority, &timeout, fds.data(),
                                             static_cast<gint>(fds.size()))) >
               static_cast<gint>(fds.size())) {
            fds.resize(static_cast<std::size_t>(count));
        }
        for (gint i = 0; i < count; ++i) {
            fds[static_cast<std::size_t>(i)].revents = 0;
        }
        if (count > 0) {
            // GPollFD has the layout of struct pollfd on every platform GLib supports.
            ::poll(reinterpret_cast<pollfd*>(fds.data()), static_cast<nfds_t>(count), 0);
        }
        if (g_main_context_check(context, maxPriority, fds.data(), count) != FALSE) {
            g_main_context_dispatch(context);
            continue;
        }
        std::vector<int> readable;
        bool wantsWritable = false;
        for (gint i = 0; i < count; ++i) {
            const GPollFD& fd = fds[static_cast<std::size_t>(i)];
            if ((fd.events & G_IO_IN) != 0) {
                readable.push_back(fd.fd);
            }
            wantsWritable = wantsWritable || (fd.events & G_IO_OUT) != 0;
        }
        watch(readable, timeout >= 0 ? std::optional<int>(timeout) : std::nullopt, wantsWritable);
        pumping_ = false;
        return;
    }
    pumping_ = false;
    pumpSoon();
}

void GLibContextPump::watch(const std::vector<int>& readable,
                            std::optional<int> timeoutMilliseconds, bool wantsWritable) {
    for (auto it = sources_.begin(); it != sources_.end();) {
        if (std::find(readable.begin(), readable.end(), it->first) == readable.end()) {
            loop_.removeSource(it->second);
            it = sources_.erase(it);
        } else {
            ++it;
        }
    }
    for (int fd : readable) {
        if (sources_.count(fd) == 0) {
            sources_[fd] = loop_.addFileDescriptorSource(fd, [this] { pump(); });
        }
    }
    if (timer_) {
        loop_.invalidateTimer(*timer_);
        timer_.reset();
    }
    std::optional<double> delay;
    if (timeoutMilliseconds) {
        delay = *timeoutMilliseconds / 1000.0;
    }
    if (wantsWritable) {
        delay = std::min(delay.value_or(writablePollSeconds), writablePollSeconds);
    }
    if (delay) {
        timer_ = loop_.addTimer(*delay, false, [this] {
            timer_.reset();
            pump();
        });
    }
}

} // namespace scrivlet::atspi
