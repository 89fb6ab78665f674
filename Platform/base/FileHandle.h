#pragma once

#include <unistd.h>
#include <utility>

namespace scrivlet {

// Owns one file descriptor and closes it when it goes: a file, a socket, a lock (closing is
// what releases an flock), an inotify, signal or event descriptor. Whoever takes a descriptor
// over (a connection table, a caller) gets it with release() or by moving the handle.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() { reset(); }
    FileHandle(FileHandle&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    int get() const { return fd_; }
    bool isValid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }
    // Closes now and says whether the kernel reported no error (errno tells otherwise). For a
    // file just written, that is the last word on whether the writes landed.
    bool close() {
        if (fd_ < 0) {
            return true;
        }
        return ::close(std::exchange(fd_, -1)) == 0;
    }

private:
    int fd_ = -1;
};

} // namespace scrivlet
