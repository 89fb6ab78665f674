#pragma once

#include "Platform/base/RunLoop.h"

#include <memory>

namespace scrivlet {

// GLib's default main context drives the platform run loop: a module inside a program whose
// main loop is GLib's (a file manager built on GTK) never runs the platform loop itself. GLib
// watches the loop's descriptor and turns the loop when it is readable; work the module posts
// from inside GLib's own callbacks does not wake the descriptor, so it calls turnSoon().
//
// Created on the thread that runs GLib's default context, which then owns the platform loop;
// one per process, for the loop it drives. exec() and quit() run a GLib main loop, for a
// program of our own that has nobody else's loop to live in (tests).
class GLibRunLoopDriver final : public RunLoopDriver {
public:
    explicit GLibRunLoopDriver(RunLoop& loop);
    ~GLibRunLoopDriver() override;
    GLibRunLoopDriver(const GLibRunLoopDriver&) = delete;
    GLibRunLoopDriver& operator=(const GLibRunLoopDriver&) = delete;

    // One turn of the platform loop on GLib's next idle moment; several requests make one.
    void turnSoon();

    void exec() override;
    void quit() override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace scrivlet
