#include "Platform/backends/atspi/StallMeter.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>

namespace scrivlet::atspi {

namespace {

constexpr double tickSeconds = 0.002;

double threadProcessorSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace

StallMeter::StallMeter(RunLoop& loop, std::string file, double reportSeconds)
    : loop_(loop), file_(std::move(file)), reportSeconds_(reportSeconds),
      lastTick_(loop.monotonicNow()), lastThreadTime_(threadProcessorSeconds()),
      timer_(loop.addTimer(tickSeconds, true, [this] { tick(); })) {}

StallMeter::~StallMeter() {
    loop_.invalidateTimer(timer_);
}

std::unique_ptr<StallMeter> StallMeter::fromEnvironment(RunLoop& loop) {
    const char* file = std::getenv("SCRIVLET_STALL_FILE");
    if (file == nullptr || *file == '\0') {
        return nullptr;
    }
    return std::make_unique<StallMeter>(loop, file);
}

void StallMeter::tick() {
    const double now = loop_.monotonicNow();
    const double stall = now - lastTick_ - tickSeconds;
    const double threadTime = threadProcessorSeconds();
    const double used = threadTime - lastThreadTime_;
    lastTick_ = now;
    lastThreadTime_ = threadTime;
    if (stall <= reportSeconds_) {
        return;
    }
    const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
    std::ofstream(file_, std::ios::app)
        << wall << ' ' << stall * 1000 << ' ' << used * 1000 << '\n';
}

} // namespace scrivlet::atspi
