#include "Platform/Clock.h"

const SystemClock& SystemClock::shared() {
    static const SystemClock clock;
    return clock;
}
