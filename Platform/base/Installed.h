#pragma once

#include "Platform/base/Export.h"

namespace scrivlet {

// The process-wide objects of a floor (the main bundle, the desktop backend, the application
// object...) are installed by the composition root, Services, at start-up; the floor's own
// code reaches them through its classes without knowing that root. Reaching one before it
// was installed is a programming error: the process stops with a line that says so.
[[noreturn]] SCRIVLET_PLATFORM_API void stopBeforeInstalled();

template <typename T> T& installedOrStop(T* object) {
    if (object == nullptr) {
        stopBeforeInstalled();
    }
    return *object;
}

} // namespace scrivlet
