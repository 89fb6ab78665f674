#include "Platform/system/UserDirectories.h"
#include "Scrivcore/BadgeRefreshNotifier.h"

#include <benchmark/benchmark.h>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

// Points the container and the runtime folder at a fresh folder while it lives, so the
// benchmark neither sees nor disturbs a real session.
class ScratchSession {
public:
    ScratchSession() {
        std::string pattern = (fs::temp_directory_path() / "scrivlet-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            return;
        }
        root_ = pattern;
        redirect(UserDirectories::containerOverrideVariable, root_ / "container", savedContainer_);
        redirect("XDG_RUNTIME_DIR", root_ / "run", savedRuntime_);
    }
    ~ScratchSession() {
        if (root_.empty()) {
            return;
        }
        restore(UserDirectories::containerOverrideVariable, savedContainer_);
        restore("XDG_RUNTIME_DIR", savedRuntime_);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    ScratchSession(const ScratchSession&) = delete;
    ScratchSession& operator=(const ScratchSession&) = delete;

    bool ready() const { return !root_.empty(); }

private:
    static void redirect(const char* name, const fs::path& value,
                         std::optional<std::string>& saved) {
        if (const char* old = std::getenv(name)) {
            saved = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    static void restore(const char* name, const std::optional<std::string>& saved) {
        if (saved) {
            ::setenv(name, saved->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }

    fs::path root_;
    std::optional<std::string> savedContainer_;
    std::optional<std::string> savedRuntime_;
};

bool writeByte(int fd) {
    const char byte = 1;
    ssize_t wrote;
    while ((wrote = ::write(fd, &byte, 1)) < 0 && errno == EINTR) {
    }
    return wrote == 1;
}

bool readByte(int fd) {
    char byte = 0;
    ssize_t got;
    while ((got = ::read(fd, &byte, 1)) < 0 && errno == EINTR) {
    }
    return got == 1;
}

// The extension's side: sleep until the notice, drain, answer one byte per path. Leaves when
// the stop pipe closes, which also covers the parent dying.
int runExtensionSide(int stopFd, int answerFd) {
    std::error_code error;
    auto observer = BadgeRefreshNotifier::makeObserver(error);
    if (!observer || !writeByte(answerFd)) {
        return 1;
    }
    pollfd watched[2] = {{observer->fileDescriptor(), POLLIN, 0}, {stopFd, POLLIN, 0}};
    for (;;) {
        if (::poll(watched, 2, -1) < 0 && errno != EINTR) {
            return 1;
        }
        if (watched[1].revents != 0) {
            return 0;
        }
        if (watched[0].revents != 0 && observer->consumePendingNotices() > 0) {
            for (std::size_t n = BadgeRefreshNotifier::drainPendingPaths().size(); n > 0; --n) {
                if (!writeByte(answerFd)) {
                    return 1;
                }
            }
        }
    }
}

void BM_NotifyToDrain(benchmark::State& state) {
    ScratchSession session;
    int stop[2];
    int answer[2];
    if (!session.ready() || ::pipe(stop) != 0) {
        state.SkipWithError("cannot set up a scratch session");
        return;
    }
    if (::pipe(answer) != 0) {
        ::close(stop[0]);
        ::close(stop[1]);
        state.SkipWithError("cannot set up a scratch session");
        return;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(stop[1]);
        ::close(answer[0]);
        ::_exit(runExtensionSide(stop[0], answer[1]));
    }
    ::close(stop[0]);
    ::close(answer[1]);

    // The first byte says the observer is in place, so no notice below can go unseen.
    if (child < 0 || !readByte(answer[0])) {
        state.SkipWithError("the draining process did not start");
    } else {
        const std::string path = "/Users/bench/Documents/Quarterly report.txt";
        for (auto _ : state) {
            BadgeRefreshNotifier::notifyChange(path);
            if (!readByte(answer[0])) {
                state.SkipWithError("the draining process stopped answering");
                break;
            }
        }
    }

    ::close(stop[1]);
    ::close(answer[0]);
    if (child > 0) {
        int status = 0;
        ::waitpid(child, &status, 0);
    }
}

} // namespace

BENCHMARK(BM_NotifyToDrain)->UseRealTime();
