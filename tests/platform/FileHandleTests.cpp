// The one owner of descriptors: each handle closes exactly what it holds, once, and a
// descriptor handed over is no longer its to close.
#include "Platform/base/FileHandle.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace scrivlet;

namespace {

bool isOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

int openNull() {
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

TEST(FileHandleTest, ClosesWhatItHoldsWhenItGoesOrIsReplaced) {
    int first = -1;
    {
        FileHandle handle(openNull());
        first = handle.get();
        ASSERT_TRUE(isOpen(first));
        FileHandle other(openNull());
        const int second = other.get();
        handle = std::move(other);
        EXPECT_FALSE(isOpen(first)) << "the descriptor it held before the move";
        EXPECT_EQ(handle.get(), second);
        EXPECT_FALSE(other.isValid());
        first = second;
    }
    EXPECT_FALSE(isOpen(first)) << "the descriptor it held when it went";
}

TEST(FileHandleTest, ReleaseHandsTheDescriptorOverUnclosed) {
    int fd = -1;
    {
        FileHandle handle(openNull());
        fd = handle.release();
        EXPECT_FALSE(handle.isValid());
    }
    EXPECT_TRUE(isOpen(fd));
    ::close(fd);
}

TEST(FileHandleTest, CloseReportsTheKernelsAnswerAndLeavesNothingToCloseTwice) {
    FileHandle handle(openNull());
    const int fd = handle.get();
    EXPECT_TRUE(handle.close());
    EXPECT_FALSE(isOpen(fd));
    EXPECT_FALSE(handle.isValid());
    EXPECT_TRUE(handle.close()) << "an empty handle has nothing to report";

    // A number nobody opened stands for a descriptor the kernel refuses to close.
    FileHandle stale(fd);
    errno = 0;
    EXPECT_FALSE(stale.close());
    EXPECT_EQ(errno, EBADF);
}

} // namespace
