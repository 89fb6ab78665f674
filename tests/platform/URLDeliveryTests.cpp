// URL delivery between processes of one user: the format of a delivery, the receiver that
// one process holds, and what a sender learns when the receiver is missing, stale or stuck.
#include "Platform/base/RunLoop.h"
#include "Platform/control/VirtualClock.h"
#include "Platform/system/URLDelivery.h"
#include "Platform/system/URLReceiver.h"
#include "tests/support/TempHome.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace scrivlet;
using namespace std::chrono_literals;

namespace fs = std::filesystem;

namespace {

std::vector<URL> urls(std::initializer_list<const char*> texts) {
    std::vector<URL> list;
    for (const char* text : texts) {
        list.push_back(*URL::fromString(text));
    }
    return list;
}

std::vector<std::string> texts(const std::vector<URL>& list) {
    std::vector<std::string> strings;
    for (const URL& url : list) {
        strings.push_back(url.absoluteString());
    }
    return strings;
}

std::string frame(const std::string& text) {
    const auto n = static_cast<std::uint32_t>(text.size());
    const char prefix[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                            static_cast<char>(n >> 8), static_cast<char>(n)};
    return std::string(prefix, 4) + text;
}

TEST(URLDeliveryFormat, DecodesWhatIsWellFormedAndRefusesTheRest) {
    struct Case {
        const char* name;
        std::string bytes;
        std::optional<std::vector<std::string>> expected;
    };
    const std::string tooLong(URLDelivery::maximumURLLength + 1, 'a');
    const Case cases[] = {
        {"two URLs", frame("scrivlet://a?path=/x") + frame("scrivlet://b"),
         std::vector<std::string>{"scrivlet://a?path=/x", "scrivlet://b"}},
        {"nothing: a question whether anyone listens", "", std::vector<std::string>{}},
        {"a frame cut short", frame("scrivlet://a").substr(0, 7), std::nullopt},
        {"a length cut short", std::string("\0\0", 2), std::nullopt},
        {"a text that is not a URL", frame("not a url"), std::nullopt},
        {"a URL over the limit", frame(tooLong), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Byte by byte, as a slow sender's data may arrive.
        URLDelivery::Decoder decoder;
        bool accepted = true;
        for (const char byte : c.bytes) {
            accepted = accepted && decoder.append(std::string_view(&byte, 1));
        }
        const auto decoded = accepted ? decoder.finish() : std::nullopt;
        ASSERT_EQ(decoded.has_value(), c.expected.has_value());
        if (decoded) {
            EXPECT_EQ(texts(*decoded), *c.expected);
        }
    }
    const auto encoded = URLDelivery::encode(urls({"scrivlet://a", "x:y"}));
    ASSERT_TRUE(encoded);
    EXPECT_EQ(*encoded, frame("scrivlet://a") + frame("x:y"));
}

TEST(URLDeliveryFormat, SchemesNameTheirSocketInLowerCase) {
    EXPECT_EQ(URLDelivery::normalizedScheme("Scrivlet"), "scrivlet");
    EXPECT_EQ(URLDelivery::normalizedScheme("x-my.app+2"), "x-my.app+2");
    for (const char* invalid : {"", "2x", "../x", "a/b", "a b", "a%2F"}) {
        EXPECT_EQ(URLDelivery::normalizedScheme(invalid), std::nullopt) << invalid;
    }
}

// A receiver on a real run loop in this thread; senders run on other threads.
class URLReceiverTest : public ::testing::Test {
protected:
    TempHome home;
    RunLoop loop{makeRealRunLoopBackend()};
    std::vector<std::vector<std::string>> deliveries;

    std::unique_ptr<URLReceiver> claimAndStart() {
        std::error_code error;
        auto receiver = URLReceiver::claim("scrivlet", error);
        EXPECT_FALSE(error) << error.message();
        if (receiver) {
            receiver->start(loop, [this](const std::vector<URL>& delivered) {
                deliveries.push_back(texts(delivered));
            });
        }
        return receiver;
    }
    // Runs the loop until the sender is done, and answers what the sender was told.
    std::error_code send(const std::vector<URL>& list, std::chrono::milliseconds timeout = 5s) {
        std::error_code result;
        std::thread sender([&] {
            result = URLDelivery::deliver("scrivlet", list, timeout);
            loop.stop();
        });
        loop.run();
        sender.join();
        return result;
    }
};

TEST_F(URLReceiverTest, URLsOpenedTogetherArriveOnceInOrder) {
    const auto receiver = claimAndStart();
    EXPECT_FALSE(send(urls({"scrivlet://annotate?path=/a", "scrivlet://remove?path=/a"})));
    EXPECT_FALSE(send(urls({"scrivlet://annotate?path=/b"})));
    EXPECT_FALSE(send({})) << "an empty delivery only asks whether anyone listens";
    EXPECT_EQ(deliveries, (std::vector<std::vector<std::string>>{
                              {"scrivlet://annotate?path=/a", "scrivlet://remove?path=/a"},
                              {"scrivlet://annotate?path=/b"}}));
}

TEST_F(URLReceiverTest, OneProcessHoldsTheSchemeUntilItLetsGo) {
    auto first = claimAndStart();
    const fs::path socket = URLDelivery::socketPath("scrivlet");
    for (const fs::path& path : {socket, socket.parent_path()}) {
        const fs::perms others = fs::perms::group_all | fs::perms::others_all;
        EXPECT_EQ(fs::status(path).permissions() & others, fs::perms::none) << path;
    }
    std::error_code error;
    EXPECT_FALSE(URLReceiver::claim("SCRIVLET", error));
    EXPECT_EQ(error, std::errc::device_or_resource_busy);
    first.reset();
    EXPECT_FALSE(fs::exists(URLDelivery::socketPath("scrivlet"))) << "the socket goes with it";
    EXPECT_TRUE(URLReceiver::claim("scrivlet", error)) << error.message();
}

TEST_F(URLReceiverTest, NoReceiverAndAStaleSocketAreRefusedAtOnceAndTheStaleOneIsReplaced) {
    EXPECT_EQ(URLDelivery::deliver("scrivlet", urls({"scrivlet://a"}), 5s),
              std::errc::connection_refused);
    // A receiver that crashed leaves its socket behind, with nobody listening on it.
    const fs::path path = URLDelivery::socketPath("scrivlet");
    fs::create_directories(path.parent_path());
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(stale, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(stale);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(URLDelivery::deliver("scrivlet", urls({"scrivlet://a"}), 5s),
              std::errc::connection_refused);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s) << "refused, not waited out";

    const auto receiver = claimAndStart();
    ASSERT_TRUE(receiver);
    EXPECT_FALSE(send(urls({"scrivlet://a"})));
}

TEST_F(URLReceiverTest, AReceiverThatNeverAnswersFailsTheSenderWithinItsTimeout) {
    std::error_code error;
    const auto stuck = URLReceiver::claim("scrivlet", error); // listening, never started
    ASSERT_TRUE(stuck);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(URLDelivery::deliver("scrivlet", urls({"scrivlet://a"}), 200ms),
              std::errc::timed_out);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
}

TEST_F(URLReceiverTest, AMalformedDeliveryIsRefusedAndNeverHandled) {
    const auto receiver = claimAndStart();
    char status = 'x';
    std::thread sender([&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, URLDelivery::socketPath("scrivlet").c_str());
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            const std::string bytes = frame("scrivlet://fine") + frame("not a url");
            [[maybe_unused]] auto sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            ::shutdown(fd, SHUT_WR);
            [[maybe_unused]] auto got = ::recv(fd, &status, 1, 0);
        }
        ::close(fd);
        loop.stop();
    });
    loop.run();
    sender.join();
    EXPECT_EQ(status, static_cast<char>(URLDelivery::Status::refused));
    EXPECT_TRUE(deliveries.empty());
}

// Senders that connect and then neither send nor leave are dropped after a while, and no
// more than a bounded number are kept at once; neither stops the next sender.
TEST(URLReceiverLimits, StalledSendersAreDroppedAndBounded) {
    TempHome home;
    RunLoop loop(makeVirtualRunLoopBackend(Date()));
    std::error_code error;
    const auto receiver = URLReceiver::claim("scrivlet", error);
    ASSERT_TRUE(receiver);
    receiver->start(loop, [](const std::vector<URL>&) {});
    std::vector<int> stalled;
    for (std::size_t i = 0; i <= URLReceiver::maximumConnections; ++i) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, URLDelivery::socketPath("scrivlet").c_str());
        ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        stalled.push_back(fd);
    }
    loop.runUntilIdle();
    auto endedWithoutAnswer = [](int fd) {
        char byte = 0;
        return ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
    };
    EXPECT_TRUE(endedWithoutAnswer(stalled.back())) << "one over the limit is turned away";
    EXPECT_FALSE(endedWithoutAnswer(stalled.front()));
    loop.advance(URLReceiver::senderTimeout + 0.1);
    EXPECT_TRUE(endedWithoutAnswer(stalled.front())) << "dropped once its time ran out";
    for (const int fd : stalled) {
        ::close(fd);
    }
}

} // namespace
