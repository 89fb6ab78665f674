#include "Platform/system/ExtendedAttributes.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <linux/limits.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

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

// getxattrat came with Linux 6.13, after the C library's headers this builds with: its number
// is the same on the architectures below, and elsewhere the call is left out.
#if defined(SYS_getxattrat)
constexpr long getxattratCall = SYS_getxattrat;
#elif defined(__x86_64__) || defined(__aarch64__) || defined(__i386__) || defined(__riscv)
constexpr long getxattratCall = 464;
#else
constexpr long getxattratCall = -1;
#endif

// The kernel's struct xattr_args.
struct AttributeArguments {
    std::uint64_t value;
    std::uint32_t size;
    std::uint32_t flags;
};

ssize_t getxattrat(int folderFd, const char* entry, int flags, const char* name, char* buffer,
                   std::size_t size) {
    if (getxattratCall < 0) {
        errno = ENOSYS;
        return -1;
    }
    AttributeArguments arguments{reinterpret_cast<std::uintptr_t>(buffer),
                                 static_cast<std::uint32_t>(size), 0};
    return ::syscall(getxattratCall, folderFd, entry, flags, name, &arguments, sizeof arguments);
}

// ENODATA also covers the attribute vanishing between the size query and the read.
std::optional<std::string> absentIsNoError(std::optional<std::string> value,
                                           std::error_code& error) {
    if (error.value() == ENODATA) {
        error.clear();
    }
    return value;
}

std::error_code resultOf(long result, bool absentIsFine = false) {
    if (result != 0 && !(absentIsFine && errno == ENODATA)) {
        return lastError();
    }
    return {};
}

// The kernel hands back the names back to back, each ending in a NUL.
std::vector<std::string> unpackNames(const std::optional<std::string>& packed) {
    std::vector<std::string> names;
    if (!packed) {
        return names;
    }
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

} // namespace

std::optional<std::string> get(const std::filesystem::path& path, const std::string& name,
                               std::error_code& error) {
    const auto read = [&](char* buffer, std::size_t size) {
        return ::getxattr(path.c_str(), name.c_str(), buffer, size);
    };
    return absentIsNoError(readSized(read, error), error);
}

std::error_code set(const std::filesystem::path& path, const std::string& name,
                    std::string_view value) {
    return resultOf(::setxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0));
}

std::error_code remove(const std::filesystem::path& path, const std::string& name) {
    return resultOf(::removexattr(path.c_str(), name.c_str()), true);
}

std::vector<std::string> list(const std::filesystem::path& path, std::error_code& error) {
    return unpackNames(readSized(
        [&](char* buffer, std::size_t size) { return ::listxattr(path.c_str(), buffer, size); },
        error));
}

std::optional<std::string> get(int fd, const std::string& name, std::error_code& error) {
    const auto read = [&](char* buffer, std::size_t size) {
        return ::fgetxattr(fd, name.c_str(), buffer, size);
    };
    return absentIsNoError(readSized(read, error), error);
}

std::optional<std::string> getAt(int folderFd, const std::string& entry, const std::string& name,
                                 std::error_code& error) {
    const char* path = entry.empty() ? "." : entry.c_str();
    const auto read = [&](char* buffer, std::size_t size) {
        return getxattrat(folderFd, path, AT_SYMLINK_NOFOLLOW, name.c_str(), buffer, size);
    };
    return absentIsNoError(readSized(read, error), error);
}

std::error_code set(int fd, const std::string& name, std::string_view value) {
    return resultOf(::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0));
}

std::error_code remove(int fd, const std::string& name) {
    return resultOf(::fremovexattr(fd, name.c_str()), true);
}

std::vector<std::string> list(int fd, std::error_code& error) {
    return unpackNames(readSized(
        [&](char* buffer, std::size_t size) { return ::flistxattr(fd, buffer, size); }, error));
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
        hint = "this user may not read or change the file";
    } else if (error == std::errc::too_many_symbolic_link_levels) {
        hint = "a symbolic link on the way to the file is not followed";
    }
    if (hint != nullptr) {
        text += " (";
        text += hint;
        text += ")";
    }
    return text;
}

} // namespace ExtendedAttributes

} // namespace scrivlet
