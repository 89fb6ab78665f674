#include "Platform/system/ExtendedAttributes.h"

#include <array>
#include <cerrno>
#include <linux/limits.h>
#include <sys/xattr.h>

namespace scrivlet {

namespace ExtendedAttributes {

namespace {

// Most values (badges, tags, comments) are short: a first read into a buffer of this size
// answers them with one system call instead of a size query followed by the read.
constexpr std::size_t firstGuessSize = 256;

// Another process may resize the value between the size query and the read. After a few
// lost races we read into a buffer of the largest size the kernel allows, which cannot be too
// small, so a busy writer can never make a read fail.
constexpr int racingAttempts = 4;
constexpr std::size_t largestSize = XATTR_SIZE_MAX; // also the largest list of names

std::error_code lastError() {
    return {errno, std::generic_category()};
}

thread_local int noFollowDepth = 0;

// The "ask for the size, then read" dance shared by getxattr and listxattr, after one read
// into a small buffer that usually makes it unnecessary. `call` returns what the system call
// returns; a null buffer with size 0 asks for the current size.
template <typename Call> std::optional<std::string> readSized(Call call, std::error_code& error) {
    static_assert(XATTR_LIST_MAX <= largestSize);
    error.clear();
    std::array<char, firstGuessSize> guess; // on the stack: short values cost no allocation
    const ssize_t guessed = call(guess.data(), guess.size());
    if (guessed >= 0) {
        return std::string(guess.data(), static_cast<std::size_t>(guessed));
    }
    if (errno != ERANGE) {
        error = lastError();
        return std::nullopt;
    }
    std::string buffer;
    for (int attempt = 0;; ++attempt) {
        std::size_t capacity = largestSize;
        if (attempt < racingAttempts) {
            const ssize_t size = call(nullptr, 0);
            if (size < 0) {
                error = lastError();
                return std::nullopt;
            }
            if (size == 0) {
                return std::string();
            }
            capacity = static_cast<std::size_t>(size);
        }
        buffer.resize(capacity);
        const ssize_t read = call(buffer.data(), buffer.size());
        if (read >= 0) {
            buffer.resize(static_cast<std::size_t>(read));
            return buffer;
        }
        if (errno != ERANGE || attempt >= racingAttempts) {
            error = lastError();
            return std::nullopt;
        }
    }
}

} // namespace

std::optional<std::string> get(const std::filesystem::path& path, const std::string& name,
                               std::error_code& error) {
    auto value = readSized(
        [&](char* buffer, std::size_t size) {
            return NoFollowScope::isActive() ? ::lgetxattr(path.c_str(), name.c_str(), buffer, size)
                                             : ::getxattr(path.c_str(), name.c_str(), buffer, size);
        },
        error);
    // ENODATA also covers the attribute vanishing between the size query and the read.
    if (error.value() == ENODATA) {
        error.clear();
    }
    return value;
}

std::error_code set(const std::filesystem::path& path, const std::string& name,
                    std::string_view value) {
    const auto call = NoFollowScope::isActive() ? ::lsetxattr : ::setxattr;
    if (call(path.c_str(), name.c_str(), value.data(), value.size(), 0) != 0) {
        return lastError();
    }
    return {};
}

std::error_code remove(const std::filesystem::path& path, const std::string& name) {
    const auto call = NoFollowScope::isActive() ? ::lremovexattr : ::removexattr;
    if (call(path.c_str(), name.c_str()) != 0 && errno != ENODATA) {
        return lastError();
    }
    return {};
}

std::vector<std::string> list(const std::filesystem::path& path, std::error_code& error) {
    const auto packed = readSized(
        [&](char* buffer, std::size_t size) {
            return NoFollowScope::isActive() ? ::llistxattr(path.c_str(), buffer, size)
                                             : ::listxattr(path.c_str(), buffer, size);
        },
        error);
    std::vector<std::string> names;
    if (!packed) {
        return names;
    }
    // The kernel hands back the names back to back, each ending in a NUL.
    std::size_t start = 0;
    while (start < packed->size()) {
        const std::size_t end = packed->find('\0', start);
        const std::size_t stop = end == std::string::npos ? packed->size() : end;
        if (stop > start) {
            names.push_back(packed->substr(start, stop - start));
        }
        start = stop + 1;
    }
    return names;
}

bool isOutOfSpace(const std::error_code& error) {
    if (error.category() != std::generic_category() && error.category() != std::system_category()) {
        return false;
    }
    return error.value() == ENOSPC || error.value() == E2BIG || error.value() == ERANGE;
}

std::string describe(const std::error_code& error) {
    if (!error) {
        return "no error";
    }
    std::string text = error.message();
    const char* hint = nullptr;
    if (error == std::errc::not_supported || error == std::errc::operation_not_supported) {
        hint = "extended attributes are not supported on this file system";
    } else if (isOutOfSpace(error)) {
        hint = "the file has no room left for extended attributes";
    } else if (error == std::errc::operation_not_permitted) {
        hint = "the file is immutable or append-only, or cannot carry user attributes";
    } else if (error == std::errc::permission_denied) {
        hint = "the file is not writable by this user";
    }
    if (hint != nullptr) {
        text += " (";
        text += hint;
        text += ")";
    }
    return text;
}

NoFollowScope::NoFollowScope() {
    ++noFollowDepth;
}

NoFollowScope::~NoFollowScope() {
    --noFollowDepth;
}

bool NoFollowScope::isActive() {
    return noFollowDepth > 0;
}

} // namespace ExtendedAttributes

} // namespace scrivlet
