#include "Platform/FileBookmark.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace scrivlet {

namespace FileBookmark {

namespace {

constexpr std::array<std::uint8_t, 4> magic{'S', 'C', 'B', 'K'};

template <typename T> void append(std::vector<std::uint8_t>& out, T value) {
    // Little-endian regardless of host, so bookmarks mean the same on every machine.
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i)));
    }
}

template <typename T>
bool read(const std::vector<std::uint8_t>& in, std::size_t& offset, T& value) {
    if (in.size() - offset < sizeof(T)) {
        return false;
    }
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        bits |= static_cast<std::uint64_t>(in[offset + i]) << (8 * i);
    }
    value = static_cast<T>(bits);
    offset += sizeof(T);
    return true;
}

} // namespace

std::optional<std::vector<std::uint8_t>> create(const std::filesystem::path& file,
                                                std::error_code& error) {
    struct statx info {};
    if (::statx(AT_FDCWD, file.c_str(), 0, STATX_INO | STATX_BTIME, &info) != 0) {
        error = {errno, std::generic_category()};
        return std::nullopt;
    }
    error.clear();
    const std::string path = std::filesystem::absolute(file).lexically_normal().string();
    const bool hasBirthTime = (info.stx_mask & STATX_BTIME) != 0;
    std::vector<std::uint8_t> data(magic.begin(), magic.end());
    append(data, currentVersion);
    append(data, (std::uint64_t{info.stx_dev_major} << 32) | info.stx_dev_minor);
    append(data, std::uint64_t{info.stx_ino});
    append(data, hasBirthTime ? std::int64_t{info.stx_btime.tv_sec} : std::int64_t{0});
    append(data, hasBirthTime ? std::uint32_t{info.stx_btime.tv_nsec} : std::uint32_t{0});
    append(data, static_cast<std::uint32_t>(path.size()));
    data.insert(data.end(), path.begin(), path.end());
    return data;
}

std::optional<Contents> decode(const std::vector<std::uint8_t>& data) {
    if (data.size() < magic.size() + 1 || !std::equal(magic.begin(), magic.end(), data.begin())) {
        return std::nullopt;
    }
    std::size_t offset = magic.size();
    std::uint8_t version = 0;
    Contents contents;
    std::uint32_t pathLength = 0;
    if (!read(data, offset, version) || version != currentVersion ||
        !read(data, offset, contents.device) || !read(data, offset, contents.inode) ||
        !read(data, offset, contents.birthTimeSeconds) ||
        !read(data, offset, contents.birthTimeNanoseconds) || !read(data, offset, pathLength) ||
        data.size() - offset != pathLength) {
        return std::nullopt;
    }
    contents.path.assign(data.begin() + static_cast<std::ptrdiff_t>(offset), data.end());
    return contents;
}

} // namespace FileBookmark

} // namespace scrivlet
