// Feeds arbitrary bytes to everything that reads a URL from outside the app: the command URL
// reader, the path check that decides what a command may touch, and the reader of deliveries
// from other processes. Beyond the sanitizers' findings, it checks the path check's promise:
// whatever it accepts exists, is absolute and standardised, and lies in the home folder.
#include "Platform/base/URL.h"
#include "Platform/base/URLComponents.h"
#include "Platform/system/URLDelivery.h"
#include "Scrivlet/CommandTarget.h"
#include "Scrivlet/CommandURL.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path home;

// A home with a file, a folder, a link out of it and a link within it, beside a sibling
// whose name extends the home's: the shapes the path check has to tell apart.
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
    fs::create_symlink(root / "outside", home / "out");
    fs::create_symlink(home / "Documents/a.txt", home / "a-link");
    ::setenv("HOME", home.c_str(), 1);
    fs::current_path(home / "Documents");
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(home.parent_path(), ignored);
    });
}

void checkAcceptedTarget(const scrivlet::CommandTarget& target) {
    const std::string& path = target.resolvedPath.native();
    const bool inside = path == home.native() || path.starts_with(home.native() + "/");
    std::error_code error;
    if (!inside || !target.resolvedPath.is_absolute() || path.find("/../") != std::string::npos ||
        path.find("/./") != std::string::npos || !fs::exists(fs::symlink_status(path, error))) {
        std::fprintf(stderr, "accepted a path it must refuse: %s\n", path.c_str());
        std::abort();
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
        }
    }
    scrivlet::percentDecoded(bytes);
    scrivlet::URLDelivery::Decoder decoder;
    if (decoder.append(bytes)) {
        decoder.finish();
    }
    return 0;
}
