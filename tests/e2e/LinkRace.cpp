// The attacker's and the witness's halves of link-race.sh.
//   link-race swap FOLDER LINK SECONDS   exchanges FOLDER (a real folder) and LINK (a symbolic
//                                         link to a folder outside the home) again and again
//                                         for SECONDS, and ends with FOLDER a folder again;
//                                         prints the number of exchanges
//   link-race mark FILE...               gives each FILE a badge and a comment as the app
//                                         writes them: what a removal would take away
//   link-race snapshot FOLDER            one line per entry of FOLDER: its name, its change
//                                         time in nanoseconds and its user attributes; any
//                                         attribute write or removal changes the line
#include "Platform/system/ExtendedAttributes.h"
#include "Scrivcore/BadgeXattr.h"
#include "Scrivcore/FinderCommentSync.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h> // renameat2, RENAME_EXCHANGE
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <vector>

namespace {

using namespace scrivlet;

int usage() {
    std::fprintf(stderr,
                 "usage: link-race swap FOLDER LINK SECONDS | mark FILE... | snapshot FOLDER\n");
    return 2;
}

int swap(const char* folder, const char* link, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    long exchanges = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (::renameat2(AT_FDCWD, folder, AT_FDCWD, link, RENAME_EXCHANGE) != 0) {
            std::perror("renameat2");
            return 1;
        }
        ++exchanges;
    }
    // An odd number of exchanges left the link in the folder's place.
    if (exchanges % 2 != 0 && ::renameat2(AT_FDCWD, folder, AT_FDCWD, link, RENAME_EXCHANGE) != 0) {
        std::perror("renameat2");
        return 1;
    }
    std::printf("%ld\n", exchanges);
    return 0;
}

int mark(const std::vector<std::string>& files) {
    const std::string comment = "ours";
    for (const std::string& file : files) {
        if (ExtendedAttributes::set(file, BadgeXattr::attributeName, BadgeXattr::annotatedValue) ||
            ExtendedAttributes::set(file, FinderCommentSync::attributeName, comment) ||
            ExtendedAttributes::set(file, FinderCommentSync::markerAttributeName,
                                    FinderCommentSync::commentDigest(comment))) {
            std::fprintf(stderr, "cannot mark %s\n", file.c_str());
            return 1;
        }
    }
    return 0;
}

std::string attributesOf(const std::string& path) {
    std::vector<char> names(65536);
    const ssize_t size = ::llistxattr(path.c_str(), names.data(), names.size());
    std::string text;
    for (ssize_t start = 0; start < size;) {
        const std::string name(names.data() + start);
        start += static_cast<ssize_t>(name.size()) + 1;
        std::vector<char> value(65536);
        const ssize_t length = ::lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
        text += " " + name + "=" + std::string(value.data(), length > 0 ? length : 0);
    }
    return text;
}

int snapshot(const char* folder) {
    DIR* directory = ::opendir(folder);
    if (directory == nullptr) {
        std::perror(folder);
        return 1;
    }
    std::vector<std::string> lines;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name == "..") {
            continue;
        }
        const std::string path = std::string(folder) + "/" + name;
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0) {
            continue;
        }
        const long long changed = static_cast<long long>(status.st_ctim.tv_sec) * 1'000'000'000LL +
                                  status.st_ctim.tv_nsec;
        lines.push_back(name + " " + std::to_string(changed) + attributesOf(path));
    }
    ::closedir(directory);
    std::sort(lines.begin(), lines.end());
    for (const std::string& line : lines) {
        std::printf("%s\n", line.c_str());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "swap") == 0) {
        return swap(argv[2], argv[3], std::atof(argv[4]));
    }
    if (argc >= 3 && std::strcmp(argv[1], "mark") == 0) {
        return mark(std::vector<std::string>(argv + 2, argv + argc));
    }
    if (argc == 3 && std::strcmp(argv[1], "snapshot") == 0) {
        return snapshot(argv[2]);
    }
    return usage();
}
