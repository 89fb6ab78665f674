#pragma once

#include "Platform/base/Export.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace scrivlet {

// Objects that belong to one thread remember it and check it at every entry point: a call
// from another thread is a programming error, so it stops the process at the call site.
class SCRIVLET_PLATFORM_API ThreadAffinity {
public:
    ThreadAffinity() : owner_(std::this_thread::get_id()) {}

    void check(const char* entryPoint) const {
        if (std::this_thread::get_id() != owner_) {
            std::fprintf(stderr, "%s called off its owning thread\n", entryPoint);
            std::abort();
        }
    }

private:
    std::thread::id owner_;
};

} // namespace scrivlet
