#pragma once

#include <filesystem>
#include <sys/types.h>

namespace scrivlet {

// The user that tests make other processes run as (nobody).
inline constexpr uid_t otherUser = 65534;

// A Unix socket that the kernel credits to `otherUser` (SO_PEERCRED), made in a child process
// and handed back, so a test can play another user's client or server at a socket path only
// this user can open. -1 when it cannot be made (the test then fails).
int connectAsOtherUser(const std::filesystem::path& socket);
int listenAsOtherUser(const std::filesystem::path& socket);

} // namespace scrivlet
