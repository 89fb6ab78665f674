#include "Platform/system/URLSchemeRegistration.h"

#include "Platform/system/AtomicFile.h"
#include "Platform/system/DesktopEntry.h"
#include "Platform/system/UserDirectories.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace scrivlet {

namespace fs = std::filesystem;

namespace URLSchemeRegistration {

namespace {

std::string mimeType(const std::string& scheme) {
    return "x-scheme-handler/" + scheme;
}

std::optional<std::string> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

// A temporary file beside the target, renamed over it: readers see the old or the new entry.
std::error_code replaceFile(const fs::path& path, const std::string& contents) {
    if (std::error_code error = UserDirectories::ensureDirectory(path.parent_path())) {
        return error;
    }
    if (auto failed = replaceFileAtomically(path, contents, 0666)) {
        return failed->code;
    }
    return {};
}

bool declaresScheme(const std::map<std::string, std::string>& keys, const std::string& scheme) {
    const auto mimeTypes = keys.find("MimeType");
    const auto hidden = keys.find("Hidden");
    if (mimeTypes == keys.end() || (hidden != keys.end() && hidden->second == "true")) {
        return false;
    }
    std::istringstream list(mimeTypes->second);
    for (std::string type; std::getline(list, type, ';');) {
        if (type == mimeType(scheme)) {
            return true;
        }
    }
    return false;
}

std::vector<fs::path> applicationFolders() {
    std::vector<fs::path> folders{UserDirectories::dataHome() / "applications"};
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::istringstream list(dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share");
    for (std::string folder; std::getline(list, folder, ':');) {
        if (!folder.empty() && folder.front() == '/') {
            folders.push_back(fs::path(folder) / "applications");
        }
    }
    return folders;
}

std::vector<fs::path> entriesIn(const fs::path& folder) {
    std::vector<fs::path> entries;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() == ".desktop") {
            entries.push_back(it->path());
        }
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

} // namespace

fs::path desktopEntryPath(const std::string& bundleIdentifier) {
    return UserDirectories::dataHome() / "applications" / (bundleIdentifier + ".desktop");
}

std::string desktopEntryText(const Application& application) {
    std::string mimeTypes;
    for (const std::string& scheme : application.schemes) {
        mimeTypes += mimeType(scheme) + ";";
    }
    const std::string exec =
        DesktopEntry::quoteExecArgument(application.executable.string()) + " %U";
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" +
           DesktopEntry::escapeValue(application.name) +
           "\n"
           "Exec=" +
           DesktopEntry::escapeValue(exec) +
           "\n"
           // Desktops pass over the handler once its program is gone (the package removed).
           "TryExec=" +
           DesktopEntry::escapeValue(application.executable.string()) +
           "\n"
           "Terminal=false\n"
           "NoDisplay=true\n"
           "MimeType=" +
           mimeTypes + "\n";
}

std::error_code registerApplication(const Application& application) {
    const fs::path path = desktopEntryPath(application.bundleIdentifier);
    const std::string wanted = desktopEntryText(application);
    if (readFile(path) == wanted) {
        return {};
    }
    return replaceFile(path, wanted);
}

std::optional<std::vector<std::string>> commandForOpening(const std::string& scheme,
                                                          const std::vector<std::string>& urls) {
    for (const fs::path& folder : applicationFolders()) {
        for (const fs::path& entry : entriesIn(folder)) {
            const std::optional<std::string> text = readFile(entry);
            const auto keys = text ? DesktopEntry::readMainGroup(*text) : std::nullopt;
            if (!keys || !declaresScheme(*keys, scheme) || !keys->contains("Exec")) {
                continue;
            }
            auto command = DesktopEntry::expandExec(keys->at("Exec"), urls);
            if (command && !command->empty()) {
                return command;
            }
        }
    }
    return std::nullopt;
}

} // namespace URLSchemeRegistration

} // namespace scrivlet
