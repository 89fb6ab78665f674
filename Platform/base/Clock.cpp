#include "Platform/base/Clock.h"

namespace scrivlet {

const SystemClock& SystemClock::shared() {
    static const SystemClock clock;
    return clock;
}

} // namespace scrivlet
