#include "Platform/system/LoginItemService.h"

#include "Platform/base/FileHandle.h"
#include "Platform/system/AtomicFile.h"
#include "Platform/system/UserDirectories.h"

#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view desktopEntryGroup = "[Desktop Entry]";

// Far above any entry we write; a larger file is not one of ours and is not worth reading.
constexpr std::size_t entrySizeLimit = std::size_t{64} * 1024;

bool isUsableIdentifier(const std::string& identifier) {
    return !identifier.empty() && identifier.find('/') == std::string::npos &&
           identifier.find('\0') == std::string::npos;
}

// Desktop entries are UTF-8 and their string values may not hold control characters; tab,
// newline and carriage return are the exceptions because the format has escapes for them.
bool fitsInDesktopEntry(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            if ((byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') || byte == 0x7f) {
                return false;
            }
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t codePoint = 0;
        if ((byte & 0xe0) == 0xc0) {
            length = 2;
            codePoint = byte & 0x1f;
        } else if ((byte & 0xf0) == 0xe0) {
            length = 3;
            codePoint = byte & 0x0f;
        } else if ((byte & 0xf8) == 0xf0) {
            length = 4;
            codePoint = byte & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto continuation = static_cast<unsigned char>(text[i + k]);
            if ((continuation & 0xc0) != 0x80) {
                return false;
            }
            codePoint = (codePoint << 6) | (continuation & 0x3f);
        }
        constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (codePoint < smallest[length] || codePoint > 0x10ffff ||
            (codePoint >= 0xd800 && codePoint <= 0xdfff)) {
            return false;
        }
        i += length;
    }
    return true;
}

// The escapes every string value gets; a leading space would otherwise be read as padding
// after the '='.
std::string escapeValue(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case ' ':
            out += out.empty() ? "\\s" : " ";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Exec is split like a shell command line but by the launcher's own rules: an argument with
// any reserved character goes in double quotes with ", `, $ and \ escaped, and '%' must be
// doubled everywhere since it starts a field code. Readers undo the string escapes before
// the quoting, so those are applied last here.
std::string execValue(std::string_view argument) {
    // Carriage return is not on the standard's list; quoting it costs nothing and keeps
    // launchers that split on any white space from cutting the path there.
    constexpr std::string_view reserved = " \t\n\r\"'\\><~|&;$*?#`()";
    const bool needsQuotes = argument.find_first_of(reserved) != std::string_view::npos;
    std::string command;
    if (needsQuotes) {
        command += '"';
    }
    for (const char c : argument) {
        if (needsQuotes && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            command += '\\';
        }
        command += c;
        if (c == '%') {
            command += '%';
        }
    }
    if (needsQuotes) {
        command += '"';
    }
    return escapeValue(command);
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// Contents of a regular file (symbolic links followed) of sane size, else nothing.
std::optional<std::string> readEntry(const fs::path& path) {
    const FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const int fd = file.get();
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<std::string> contents;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::size_t>(info.st_size) <= entrySizeLimit) {
        std::string buffer(entrySizeLimit + 1, '\0');
        std::size_t filled = 0;
        while (filled < buffer.size()) {
            const ssize_t count = ::read(fd, buffer.data() + filled, buffer.size() - filled);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                break;
            }
            filled += static_cast<std::size_t>(count);
        }
        if (filled <= entrySizeLimit) {
            buffer.resize(filled);
            contents = std::move(buffer);
        }
    }
    return contents;
}

// Session settings switch an entry off in place rather than deleting it, with either the
// standard Hidden key or GNOME's own flag; both mean the session will not start us.
bool entryIsSwitchedOn(std::string_view text) {
    bool sawGroup = false;
    bool inGroup = false;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.starts_with('[')) {
            inGroup = line == desktopEntryGroup;
            sawGroup = sawGroup || inGroup;
            continue;
        }
        const auto equals = line.find('=');
        if (!inGroup || line.starts_with('#') || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = trimmed(line.substr(0, equals));
        const std::string_view value = trimmed(line.substr(equals + 1));
        if ((key == "Hidden" && value == "true") ||
            (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            return false;
        }
    }
    return sawGroup;
}

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// "not a directory" from a deep path does not say which part is in the way; find it.
fs::path firstNonFolder(const fs::path& path) {
    fs::path prefix;
    for (const auto& part : path) {
        prefix /= part;
        std::error_code ignored;
        const fs::file_status state = fs::status(prefix, ignored);
        if (!fs::exists(state)) {
            break;
        }
        if (!fs::is_directory(state)) {
            return prefix;
        }
    }
    return path;
}

std::string describe(const fs::path& path, const std::error_code& code) {
    if (code == std::errc::not_a_directory) {
        return firstNonFolder(path).string() + " is not a folder";
    }
    if (code == std::errc::is_a_directory) {
        return path.string() + " is a folder";
    }
    return path.string() + ": " + code.message();
}

PlatformError failure(const std::string& action, std::error_code code, const std::string& why) {
    return PlatformError{code, action + ": " + why};
}

bool isExecutableFile(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

} // namespace

LoginItemService::LoginItemService(std::string identifier, fs::path executable,
                                   std::string displayName)
    : identifier_(std::move(identifier)), executable_(std::move(executable)),
      displayName_(displayName.empty() ? identifier_ : std::move(displayName)) {}

fs::path LoginItemService::entryPath() const {
    if (!isUsableIdentifier(identifier_)) {
        return {};
    }
    return UserDirectories::configHome() / "autostart" / (identifier_ + ".desktop");
}

std::optional<PlatformError> LoginItemService::refusal(const std::string& action) const {
    if (!isUsableIdentifier(identifier_)) {
        return failure(action, std::make_error_code(std::errc::invalid_argument),
                       "\"" + identifier_ +
                           "\" cannot name a login item (it must be non-empty and contain no '/')");
    }
    return std::nullopt;
}

std::string LoginItemService::entryContents() const {
    return std::string(desktopEntryGroup) +
           "\nType=Application\nName=" + escapeValue(displayName_) +
           "\nComment=" + escapeValue("Opens " + displayName_ + " when you log in") +
           "\nExec=" + execValue(executable_.native()) +
           // A program that is gone (its package removed, its bundle deleted) is skipped
           // rather than failing at every login.
           "\nTryExec=" + escapeValue(executable_.native()) +
           "\nNoDisplay=true\nX-GNOME-Autostart-enabled=true\n";
}

std::optional<PlatformError> LoginItemService::registerItem() {
    const std::string action = "Could not register " + displayName_ + " to open at login";
    if (auto refused = refusal(action)) {
        return refused;
    }
    if (!executable_.is_absolute()) {
        return failure(action, std::make_error_code(std::errc::invalid_argument),
                       "the app's location \"" + executable_.string() +
                           "\" is not an absolute path");
    }
    if (!fitsInDesktopEntry(executable_.native()) || !fitsInDesktopEntry(displayName_)) {
        return failure(action, std::make_error_code(std::errc::illegal_byte_sequence),
                       "the app's name or location (" + executable_.string() +
                           ") is not UTF-8 text a desktop entry can hold");
    }
    // An entry whose Exec names nothing would fail silently at every login; say so now.
    if (!isExecutableFile(executable_)) {
        return failure(action, std::make_error_code(std::errc::no_such_file_or_directory),
                       "the app's location \"" + executable_.string() +
                           "\" is not an executable file");
    }

    const fs::path entry = entryPath();
    const std::string contents = entryContents();
    const std::optional<std::string> existing = readEntry(entry);
    if (existing == contents) {
        return std::nullopt;
    }
    // The user switched the entry off in the session's settings: registering again at every
    // launch must not overrule that choice.
    if (existing && !entryIsSwitchedOn(*existing)) {
        return failure(action, std::make_error_code(std::errc::operation_not_permitted),
                       "it was turned off in the desktop's startup settings (" + entry.string() +
                           ") and stays off until it is turned on there");
    }
    const fs::path folder = entry.parent_path();
    if (const std::error_code code = UserDirectories::ensureDirectory(folder)) {
        return failure(action, code, describe(folder, code));
    }

    // An autostart entry holds nothing secret, and other tools expect the usual mode.
    if (auto failed = replaceFileAtomically(entry, contents, 0644, FilePermissions::exactly)) {
        return failure(action, failed->code, describe(failed->path, failed->code));
    }
    return std::nullopt;
}

std::optional<PlatformError> LoginItemService::unregisterItem() {
    const std::string action = "Could not stop " + displayName_ + " from opening at login";
    if (auto refused = refusal(action)) {
        return refused;
    }
    const fs::path entry = entryPath();
    if (::unlink(entry.c_str()) == 0 || errno == ENOENT || errno == ENOTDIR) {
        return std::nullopt;
    }
    const std::error_code code = lastError();
    return failure(action, code, describe(entry, code));
}

LoginItemService::Status LoginItemService::status() const {
    const fs::path entry = entryPath();
    if (entry.empty()) {
        return Status::notRegistered;
    }
    const std::optional<std::string> contents = readEntry(entry);
    return contents && entryIsSwitchedOn(*contents) ? Status::enabled : Status::notRegistered;
}

} // namespace scrivlet
