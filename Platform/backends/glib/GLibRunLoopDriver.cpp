#include "Platform/backends/glib/GLibRunLoopDriver.h"

#include <glib-unix.h>
#include <glib.h>

namespace scrivlet {

struct GLibRunLoopDriver::State {
    RunLoop& loop;
    guint watch = 0;
    guint idle = 0;
    GMainLoop* mainLoop = nullptr;

    explicit State(RunLoop& runLoop) : loop(runLoop) {}

    void turn() {
        // Called from GLib's dispatch, which no exception may cross; the loop ends the process
        // itself on work that throws, so what reaches here is the loop's own failure.
        try {
            loop.performReady();
        } catch (...) {
            g_warning("Scrivlet: the run loop failed to turn");
        }
    }

    static gboolean readable(gint /*fd*/, GIOCondition /*condition*/, gpointer data) {
        static_cast<State*>(data)->turn();
        return G_SOURCE_CONTINUE;
    }

    static gboolean idleTurn(gpointer data) {
        auto* state = static_cast<State*>(data);
        state->idle = 0;
        state->turn();
        return G_SOURCE_REMOVE;
    }
};

GLibRunLoopDriver::GLibRunLoopDriver(RunLoop& loop) : state_(std::make_unique<State>(loop)) {
    loop.assertOwnerThread("GLibRunLoopDriver::GLibRunLoopDriver");
    const int fd = loop.driverDescriptor();
    if (fd >= 0) {
        state_->watch = g_unix_fd_add(fd, G_IO_IN, &State::readable, state_.get());
    }
    loop.setDriver(this);
    // What was set up before the driver came (timers, posted work) runs on the first turn.
    turnSoon();
}

GLibRunLoopDriver::~GLibRunLoopDriver() {
    state_->loop.setDriver(nullptr);
    if (state_->watch != 0) {
        g_source_remove(state_->watch);
    }
    if (state_->idle != 0) {
        g_source_remove(state_->idle);
    }
    if (state_->mainLoop != nullptr) {
        g_main_loop_unref(state_->mainLoop);
    }
}

void GLibRunLoopDriver::turnSoon() {
    if (state_->idle == 0) {
        state_->idle = g_idle_add(&State::idleTurn, state_.get());
    }
}

void GLibRunLoopDriver::exec() {
    if (state_->mainLoop == nullptr) {
        state_->mainLoop = g_main_loop_new(nullptr, FALSE);
    }
    g_main_loop_run(state_->mainLoop);
}

void GLibRunLoopDriver::quit() {
    if (state_->mainLoop != nullptr) {
        g_main_loop_quit(state_->mainLoop);
    }
}

} // namespace scrivlet
