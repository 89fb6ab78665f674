#include "Platform/desktop/SessionFileManager.h"

#include "Platform/system/UserDirectories.h"

#include <algorithm>
#include <atomic>
#include <cctype>

namespace scrivlet {

namespace {

std::string lowercase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool listsDesktop(std::string_view list, std::string_view desktop) {
    const std::string lower = lowercase(list);
    std::string_view rest = lower;
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        if (rest.substr(0, colon) == desktop) {
            return true;
        }
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
    return false;
}

std::atomic<FileManagerProgram>& chosen() {
    static std::atomic<FileManagerProgram> program{FileManagerProgram::dolphin};
    return program;
}

} // namespace

std::optional<FileManagerProgram> fileManagerNamed(std::string_view name) {
    const std::string lower = lowercase(name);
    if (lower == "dolphin") {
        return FileManagerProgram::dolphin;
    }
    if (lower == "nautilus") {
        return FileManagerProgram::nautilus;
    }
    return std::nullopt;
}

FileManagerProgram sessionFileManagerFor(const std::optional<std::string>& named,
                                         std::string_view currentDesktop) {
    if (named) {
        if (const auto program = fileManagerNamed(*named)) {
            return *program;
        }
    }
    return listsDesktop(currentDesktop, "gnome") ? FileManagerProgram::nautilus
                                                 : FileManagerProgram::dolphin;
}

void setSessionFileManager(FileManagerProgram program) {
    chosen().store(program);
}

FileManagerProgram sessionFileManager() {
    return chosen().load();
}

std::vector<std::string> showItemsCommand(FileManagerProgram program,
                                          const std::vector<std::string>& uris) {
    std::vector<std::string> command;
    if (program == FileManagerProgram::nautilus) {
        command = {"nautilus", "--new-window", "--select"};
    } else {
        command = {"dolphin", "--new-window", "--select"};
    }
    command.insert(command.end(), uris.begin(), uris.end());
    return command;
}

std::filesystem::path extensionSelectionFile() {
    return UserDirectories::runtimeDirectory() / "file-manager-selection";
}

} // namespace scrivlet
