#include "Platform/system/FileBookmark.h"

#include <algorithm>
#include <array>

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

template <typename T> bool read(std::span<const std::uint8_t> in, std::size_t& offset, T& value) {
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

PlatformError damaged(const std::string& what) {
    return {std::make_error_code(std::errc::invalid_argument), "The bookmark is damaged: " + what};
}

// Everything after the version byte of a version 1 bookmark. A birth time of zero stands
// for "not recorded": no file system hands out the epoch itself as a birth time.
std::optional<Contents> decodeVersion1(std::span<const std::uint8_t> data, std::size_t offset,
                                       PlatformError& error) {
    Contents contents;
    FileIdentity& identity = contents.identity;
    std::uint32_t pathLength = 0;
    if (!read(data, offset, identity.device) || !read(data, offset, identity.inode) ||
        !read(data, offset, identity.birthTimeSeconds) ||
        !read(data, offset, identity.birthTimeNanoseconds) || !read(data, offset, pathLength)) {
        error = damaged("it ends before the file's identity.");
        return std::nullopt;
    }
    if (data.size() - offset != pathLength) {
        error = damaged("its path is " + std::to_string(data.size() - offset) +
                        " bytes long where " + std::to_string(pathLength) + " were recorded.");
        return std::nullopt;
    }
    identity.hasBirthTime = identity.birthTimeSeconds != 0 || identity.birthTimeNanoseconds != 0;
    contents.path.assign(data.begin() + static_cast<std::ptrdiff_t>(offset), data.end());
    if (contents.path.empty() || contents.path.front() != '/' ||
        contents.path.find('\0') != std::string::npos) {
        error = damaged("its path is not an absolute path.");
        return std::nullopt;
    }
    return contents;
}

} // namespace

std::optional<std::vector<std::uint8_t>> create(const std::filesystem::path& file,
                                                std::error_code& error) {
    const std::optional<FileIdentity> identity = identityOf(file, true, error);
    if (!identity) {
        return std::nullopt;
    }
    return encode({std::filesystem::absolute(file).lexically_normal().string(), *identity});
}

std::vector<std::uint8_t> encode(const Contents& contents) {
    const FileIdentity& identity = contents.identity;
    std::vector<std::uint8_t> data(magic.begin(), magic.end());
    data.reserve(magic.size() + 29 + contents.path.size());
    append(data, currentVersion);
    append(data, identity.device);
    append(data, identity.inode);
    append(data, identity.hasBirthTime ? identity.birthTimeSeconds : std::int64_t{0});
    append(data, identity.hasBirthTime ? identity.birthTimeNanoseconds : std::uint32_t{0});
    append(data, static_cast<std::uint32_t>(contents.path.size()));
    data.insert(data.end(), contents.path.begin(), contents.path.end());
    return data;
}

std::optional<Contents> decode(std::span<const std::uint8_t> data, PlatformError& error) {
    if (data.size() < magic.size() + 1 || !std::equal(magic.begin(), magic.end(), data.begin())) {
        error = damaged("it is not bookmark data.");
        return std::nullopt;
    }
    const std::uint8_t version = data[magic.size()];
    if (version != currentVersion) {
        error = {std::make_error_code(std::errc::not_supported),
                 "The bookmark was made in format " + std::to_string(version) +
                     "; this version of Scrivlet reads format " + std::to_string(currentVersion) +
                     "."};
        return std::nullopt;
    }
    return decodeVersion1(data, magic.size() + 1, error);
}

} // namespace FileBookmark

} // namespace scrivlet
