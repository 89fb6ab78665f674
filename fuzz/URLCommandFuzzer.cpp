// Feeds arbitrary bytes to everything that reads a URL from outside the app: the command URL
// reader, the path check that decides what a command may touch, and the reader of deliveries
// from other processes. Beyond the sanitizers' findings, it checks the path check's promises:
// whatever it accepts exists, is absolute and standardised, has no link left on it, lies in
// the home folder and can be opened from the home folder without following a link, as the
// commands' writes open it; and a path that can be opened so is accepted as it is written.
#include "Platform/base/URL.h"
#include "Platform/base/URLComponents.h"
#include "Platform/system/FileBeneath.h"
#include "Platform/system/URLDelivery.h"
#include "Scrivlet/CommandTarget.h"
#include "Scrivlet/CommandURL.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path home;
int homeFd = -1;

// Links of every shape: out of the home, within it, to links, in a loop, to nothing inside
// and outside, climbing out and coming back with "..", to the home itself.
void makeLinks(const fs::path& root) {
    fs::create_symlink(root / "outside", home / "out");
    fs::create_symlink(home / "Documents/a.txt", home / "a-link");
    fs::create_symlink("a-link", home / "chain");
    fs::create_symlink(root / "outside/later.txt", home / "dangle");
    fs::create_symlink(home / "Documents/missing.txt", home / "dangle-in");
    fs::create_symlink("loop-2", home / "loop-1");
    fs::create_symlink("loop-1", home / "loop-2");
    fs::create_symlink("self", home / "self");
    fs::create_symlink("../outside", home / "up");
    fs::create_symlink("../Documents", home / "Documents/up-in");
    fs::create_symlink(".", home / "back");
    fs::create_symlink(home / "Documents", home / "Documents/dir-link");
}

// A home with a file, a folder and links, beside a sibling whose name extends the home's:
// the shapes the path check has to tell apart.
void makeHome() {
    char pattern[] = "/tmp/scrivlet-fuzz-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    const fs::path root = pattern;
    home = root / "home";
    fs::create_directories(home / "Documents");
    fs::create_directories(root / "home-sibling");
    fs::create_directories(root / "outside");
    std::ofstream(home / "Documents/a.txt") << "a";
    std::ofstream(root / "outside/secret.txt") << "s";
    makeLinks(root);
    homeFd = ::open(home.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ::setenv("HOME", home.c_str(), 1);
    fs::current_path(home / "Documents");
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(home.parent_path(), ignored);
    });
}

[[noreturn]] void failWith(const char* what, const std::string& path) {
    std::fprintf(stderr, "%s: %s\n", what, path.c_str());
    std::abort();
}

// The part of `path` below the home, or nullopt when it is not the home or below it.
std::optional<fs::path> belowHome(const std::string& path) {
    if (path == home.native()) {
        return fs::path();
    }
    if (!path.starts_with(home.native() + "/")) {
        return std::nullopt;
    }
    return fs::path(path.substr(home.native().size() + 1));
}

bool opensWithoutLinks(const fs::path& relative) {
    std::error_code error;
    return scrivlet::FileBeneath::open(homeFd, relative, error).isValid();
}

void checkAcceptedTarget(const scrivlet::CommandTarget& target) {
    const std::string& path = target.resolvedPath.native();
    const std::optional<fs::path> relative = belowHome(path);
    if (!relative || !target.resolvedPath.is_absolute() || path.find("/../") != std::string::npos ||
        path.find("/./") != std::string::npos || !fs::exists(path)) {
        failWith("accepted a path it must refuse", path);
    }
    if (!opensWithoutLinks(*relative)) {
        failWith("accepted a path the commands cannot open without following a link", path);
    }
}

// The path as the check reads it before resolving links: absolute from the current folder,
// without "." and ".." segments or a trailing slash.
std::string asWritten(const std::string& path) {
    std::string text = (fs::current_path() / path).lexically_normal().native();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

// A path in the home with no link on it, to a file or folder that exists, is the file itself.
void checkLinkFreePath(const std::string& path, const scrivlet::CommandTarget& target) {
    if (path.find('\0') != std::string::npos) {
        return;
    }
    const std::string written = asWritten(path);
    const std::optional<fs::path> relative = belowHome(written);
    if (relative && opensWithoutLinks(*relative) &&
        (!target.accepted || target.resolvedPath.native() != written)) {
        failWith("refused or moved a path without links", written);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    makeHome();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const auto url = scrivlet::URL::fromString(bytes)) {
        scrivlet::URLComponents::fromURL(*url);
        if (const auto command = scrivlet::readCommandURL(*url)) {
            const scrivlet::CommandTarget target = scrivlet::checkCommandTarget(command->path);
            if (target.accepted) {
                checkAcceptedTarget(target);
            }
            checkLinkFreePath(command->path, target);
        }
    }
    scrivlet::percentDecoded(bytes);
    scrivlet::URLDelivery::Decoder decoder;
    if (decoder.append(bytes)) {
        decoder.finish();
    }
    return 0;
}
