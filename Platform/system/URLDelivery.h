#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/URL.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace scrivlet {

// URLs travelling to the running application that owns their scheme, over one socket per
// scheme in the user's runtime directory. A connection carries one delivery: each URL as a
// 4-byte big-endian length followed by its text, then the end of the sender's writing. The
// receiver answers with one status byte once the application has taken the URLs, so the
// sender knows they arrived. Only the user's own processes take part: the folder is private
// to the user, and each end checks the credentials of the other.
namespace URLDelivery {

// What one delivery may carry: the longest single argument and about the whole argument
// space Linux gives a program, so whatever can start the app with URLs can also hand them over.
inline constexpr std::size_t maximumURLLength = std::size_t{128} * 1024;
inline constexpr std::size_t maximumDeliveryBytes = std::size_t{2} * 1024 * 1024;
inline constexpr std::size_t maximumURLCount = 4096;

// The receiver's answer.
enum class Status : unsigned char { delivered = 0, refused = 1 };

// A scheme as RFC 3986 spells it, lower-cased (schemes ignore case); nothing when invalid.
SCRIVLET_PLATFORM_API std::optional<std::string> normalizedScheme(std::string_view scheme);

// <runtime directory>/url-schemes/<scheme>.socket, and the lock that its receiver holds.
SCRIVLET_PLATFORM_API std::filesystem::path socketPath(const std::string& scheme);
SCRIVLET_PLATFORM_API std::filesystem::path receiverLockPath(const std::string& scheme);

// Hands `urls` to the receiver of `scheme` as one delivery and waits, at most `timeout` in
// all, for its answer. An empty list only asks whether a receiver answers. A receiver that is
// full for the moment (its backlog refuses the connection) or that closes the connection
// without answering is tried again, after a pause that grows from a few milliseconds to a
// fifth of a second, until the time is up: a receiver closes unanswered only what it has not
// handled (it had no place for the sender, or is ending), unless it crashes while handling.
// Errors:
//   connection_refused  no receiver listens (also for a socket left by a process that ended)
//   unconfirmed()       the whole delivery reached the receiver, which did not answer in time:
//                       it acts on the URLs once it gets to them, unless it ends first
//   timed_out           the delivery could not be handed over whole in time
//   connection_aborted  the receiver kept closing the connection without answering
//   protocol_error      the receiver refused the delivery (malformed or over a limit)
//   permission_denied   the socket belongs to another user
//   folderNotPrivate    the runtime folder is not private (UserDirectories::folderNotPrivate)
//   invalid_argument    the scheme is not one, or a URL is over the limits
SCRIVLET_PLATFORM_API std::error_code deliver(std::string_view scheme, const std::vector<URL>& urls,
                                              std::chrono::milliseconds timeout);

// The error of a delivery that reached the receiver whole without an answer in time.
SCRIVLET_PLATFORM_API std::error_code unconfirmed();

// The bytes of one delivery; nothing when a URL or the count is over the limits.
SCRIVLET_PLATFORM_API std::optional<std::string> encode(const std::vector<URL>& urls);

// Reads one delivery as its bytes arrive, keeping no more than the limits allow.
class SCRIVLET_PLATFORM_API Decoder {
public:
    // False once the bytes break the format or a limit; the delivery is then refused.
    bool append(std::string_view bytes);
    // At the end of the sender's data: the URLs, or nothing when the delivery is malformed
    // (a cut-off frame, a text that is not a URL).
    std::optional<std::vector<URL>> finish() const;

private:
    std::string pending_;
    std::vector<std::string> texts_;
    std::size_t received_ = 0;
    bool broken_ = false;
};

// Whether the process at the other end of the connected socket `fd` runs as this user.
SCRIVLET_PLATFORM_API bool peerIsCurrentUser(int fd);

} // namespace URLDelivery

} // namespace scrivlet
