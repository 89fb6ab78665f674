// URL delivery between processes of one user: the format of a delivery, the receiver that
// one process holds, and what a sender learns when the receiver is missing, stale or stuck.
#include "Platform/base/RunLoop.h"
#include "Platform/control/VirtualClock.h"
#include "Platform/system/URLDelivery.h"
#include "Platform/system/URLReceiver.h"
#include "Platform/system/UserDirectories.h"
#include "tests/support/OtherUser.h"
#include "tests/support/TempHome.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <poll.h>
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
    ASSERT_FALSE(UserDirectories::ensurePrivateDirectory(path.parent_path()));
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

// A receiver that has the whole delivery in its socket but never answers (stopped, or busy
// with a locked store) may still act on it: the sender says so rather than claim a failure.
// Only a delivery that could not go out whole is one that failed.
TEST_F(URLReceiverTest, AReceiverThatNeverAnswersLeavesTheSenderUnconfirmedWithinItsTimeout) {
    std::error_code error;
    const auto stuck = URLReceiver::claim("scrivlet", error); // listening, never started
    ASSERT_TRUE(stuck);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(URLDelivery::deliver("scrivlet", urls({"scrivlet://a"}), 200ms),
              URLDelivery::unconfirmed());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);

    // More than the socket takes before the receiver reads: it never all went out.
    std::vector<URL> large;
    for (int i = 0; i < 15; ++i) {
        large.push_back(*URL::fromString("scrivlet://x?n=" + std::string(120'000, 'a' + i)));
    }
    EXPECT_EQ(URLDelivery::deliver("scrivlet", large, 200ms), std::errc::timed_out);
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

// A sender driven a step at a time from the test's thread, so that the receiver, on the same
// thread, runs in between.
class RawSender {
public:
    explicit RawSender(const fs::path& socket)
        : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, socket.c_str());
        connected_ =
            ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    explicit RawSender(int connected) : fd_(connected), connected_(connected >= 0) {}
    ~RawSender() { ::close(fd_); }
    RawSender(const RawSender&) = delete;
    RawSender& operator=(const RawSender&) = delete;

    bool connected() const { return connected_; }
    void send(const std::string& bytes) {
        [[maybe_unused]] const auto sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    void deliver(const std::string& url) {
        send(frame(url));
        ::shutdown(fd_, SHUT_WR);
    }
    enum class Heard { nothing, delivered, refused, closedUnanswered };
    Heard heard() const {
        char status = 0;
        const ssize_t got = ::recv(fd_, &status, 1, MSG_DONTWAIT | MSG_PEEK);
        if (got == 1) {
            return status == 0 ? Heard::delivered : Heard::refused;
        }
        return got < 0 && errno == EAGAIN ? Heard::nothing : Heard::closedUnanswered;
    }

private:
    int fd_;
    bool connected_ = false;
};

// The receiver on a virtual clock: time moves only when a test says so.
class URLReceiverLimits : public ::testing::Test {
protected:
    TempHome home;
    RunLoop loop{makeVirtualRunLoopBackend(Date())};
    std::unique_ptr<URLReceiver> receiver;
    std::vector<std::string> handled;
    fs::path socket = URLDelivery::socketPath("scrivlet");

    void SetUp() override {
        std::error_code error;
        receiver = URLReceiver::claim("scrivlet", error);
        ASSERT_TRUE(receiver) << error.message();
        receiver->start(loop, [this](const std::vector<URL>& delivered) {
            for (const URL& url : delivered) {
                handled.push_back(url.absoluteString());
            }
        });
    }
    // Everything the receiver can do now, without moving the clock.
    void serve() {
        while (loop.runUntilIdle()) {
        }
    }
    std::unique_ptr<RawSender> idleSender() {
        auto sender = std::make_unique<RawSender>(socket);
        EXPECT_TRUE(sender->connected());
        serve();
        return sender;
    }
    static std::size_t countHeard(const std::vector<std::unique_ptr<RawSender>>& senders,
                                  RawSender::Heard heard) {
        return static_cast<std::size_t>(
            std::count_if(senders.begin(), senders.end(),
                          [heard](const auto& s) { return s->heard() == heard; }));
    }
};

// A hundred senders at once: those past the limit wait their turn in the backlog, and every
// one is answered and handled once.
TEST_F(URLReceiverLimits, EverySenderOfAHundredAtOnceIsAnswered) {
    std::vector<std::unique_ptr<RawSender>> senders;
    for (int i = 0; i < 100; ++i) {
        senders.push_back(std::make_unique<RawSender>(socket));
        ASSERT_TRUE(senders.back()->connected()) << i;
    }
    for (std::size_t i = 0; i < senders.size(); ++i) {
        senders[i]->deliver("scrivlet://annotate?n=" + std::to_string(i));
    }
    serve();
    EXPECT_EQ(countHeard(senders, RawSender::Heard::delivered), 100u);
    std::sort(handled.begin(), handled.end());
    EXPECT_EQ(std::unique(handled.begin(), handled.end()), handled.end());
    EXPECT_EQ(handled.size(), 100u);
}

// Idle senders, however many and however often they come back, make way for one that sends.
TEST_F(URLReceiverLimits, IdleSendersMakeWayForOnesThatSend) {
    std::vector<std::unique_ptr<RawSender>> idle;
    for (int i = 0; i < 200; ++i) {
        idle.push_back(idleSender());
    }
    EXPECT_EQ(countHeard(idle, RawSender::Heard::nothing), URLReceiver::maximumConnections)
        << "the newest are kept, the oldest made way";
    EXPECT_EQ(idle.front()->heard(), RawSender::Heard::closedUnanswered);

    for (int round = 0; round < 20; ++round) {
        // The idle ones that were dropped come straight back.
        for (auto& sender : idle) {
            if (sender->heard() == RawSender::Heard::closedUnanswered) {
                sender = idleSender();
            }
        }
        RawSender sender(socket);
        ASSERT_TRUE(sender.connected());
        sender.deliver("scrivlet://annotate?round=" + std::to_string(round));
        serve();
        EXPECT_EQ(sender.heard(), RawSender::Heard::delivered) << round;
    }
    EXPECT_EQ(handled.size(), 20u);
}

// A sender that goes quiet for a second is dropped, one that keeps sending is not, and none is
// kept past the whole delivery's time; each time without an answer, and nothing is handled.
TEST_F(URLReceiverLimits, QuietSendersAreDroppedAndSlowOnesBounded) {
    const std::string bytes = frame("scrivlet://annotate?path=/slow");
    RawSender quiet(socket);
    RawSender trickling(socket);
    serve();
    std::size_t sent = 0;
    const double step = URLReceiver::senderIdleTimeout * 0.6;
    double waited = 0;
    for (; waited + step < URLReceiver::senderTimeout; waited += step) {
        trickling.send(bytes.substr(sent++, 1));
        loop.advance(step);
        EXPECT_EQ(trickling.heard(), RawSender::Heard::nothing) << waited;
    }
    EXPECT_EQ(quiet.heard(), RawSender::Heard::closedUnanswered);
    trickling.send(bytes.substr(sent++, 1)); // still sending, but out of time
    loop.advance(step);
    EXPECT_EQ(trickling.heard(), RawSender::Heard::closedUnanswered);
    EXPECT_TRUE(handled.empty());
}

TEST_F(URLReceiverLimits, SendersOfOtherUsersAreClosedUnheard) {
    RawSender stranger(connectAsOtherUser(socket));
    ASSERT_TRUE(stranger.connected());
    stranger.deliver("scrivlet://remove?path=/a");
    serve();
    EXPECT_EQ(stranger.heard(), RawSender::Heard::closedUnanswered);
    EXPECT_TRUE(handled.empty());
}

// A virtual clock that a test can also move by hand, as a handler that keeps the loop busy
// moves time.
class HandMovedBackend final : public RunLoopBackend {
public:
    explicit HandMovedBackend(double& now) : now_(now) {}
    double monotonicNow() const override { return now_; }
    Date wallNow() const override {
        return Date() +
               std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(now_));
    }
    void wait(std::optional<double> timeout, const std::vector<int>& fds,
              std::vector<int>& ready) override {
        std::vector<pollfd> polled;
        for (const int fd : fds) {
            polled.push_back({fd, POLLIN, 0});
        }
        ::poll(polled.data(), polled.size(), 0);
        for (const pollfd& entry : polled) {
            if ((entry.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                ready.push_back(entry.fd);
            }
        }
        if (ready.empty() && timeout) {
            now_ += *timeout;
        }
    }
    void wake() override {}

private:
    double& now_;
};

// While one delivery's handler holds the loop (a locked store, say) past the others' time
// limits, a sender that delivered in the meantime is served when the loop comes back, not
// dropped for a delay that was the app's.
TEST(URLReceiverBusy, WhatArrivesWhileTheAppIsBusyIsServedNotDropped) {
    TempHome home;
    double now = 0;
    RunLoop loop(std::make_unique<HandMovedBackend>(now));
    std::error_code error;
    const auto receiver = URLReceiver::claim("scrivlet", error);
    ASSERT_TRUE(receiver) << error.message();
    const fs::path socket = URLDelivery::socketPath("scrivlet");
    RawSender busy(socket);
    RawSender waiting(socket);
    std::vector<std::string> handled;
    receiver->start(loop, [&](const std::vector<URL>& delivered) {
        handled.push_back(delivered.front().absoluteString());
        if (handled.size() == 1) {
            now += URLReceiver::senderTimeout + 1;
            waiting.deliver("scrivlet://annotate?path=/second");
        }
    });
    busy.deliver("scrivlet://annotate?path=/first");
    // Run as the app runs, until both have heard back.
    loop.addTimer(0.1, true, [&] {
        if (busy.heard() != RawSender::Heard::nothing &&
            waiting.heard() != RawSender::Heard::nothing) {
            loop.stop();
        }
    });
    loop.run();
    EXPECT_EQ(busy.heard(), RawSender::Heard::delivered);
    EXPECT_EQ(waiting.heard(), RawSender::Heard::delivered);
    EXPECT_EQ(handled, (std::vector<std::string>{"scrivlet://annotate?path=/first",
                                                 "scrivlet://annotate?path=/second"}));
}

// The sender's side: a receiver that turns it away is tried again within the time limit, and
// a socket that another user listens on is never handed the URLs.
TEST(URLDeliverySender, TriesAgainWhenTurnedAwayAndRefusesOtherUsersReceivers) {
    TempHome home;
    const fs::path path = URLDelivery::socketPath("scrivlet");
    ASSERT_FALSE(UserDirectories::ensurePrivateDirectory(path.parent_path()));
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    std::error_code result = std::make_error_code(std::errc::interrupted);
    int senderDone[2];
    ASSERT_EQ(::pipe(senderDone), 0);
    std::thread sender([&] {
        result = URLDelivery::deliver("scrivlet", urls({"scrivlet://a"}), 5s);
        ::close(senderDone[1]);
    });
    // The next connection, or -1 once the sender has given up.
    auto nextConnection = [&] {
        pollfd watched[] = {{listener, POLLIN, 0}, {senderDone[0], POLLIN, 0}};
        ::poll(watched, 2, -1);
        return (watched[0].revents & POLLIN) != 0 ? ::accept(listener, nullptr, nullptr) : -1;
    };
    // Three times closed unanswered, as a receiver closes a sender it has no place for.
    for (int turnedAway = 0; turnedAway < 3; ++turnedAway) {
        ::close(nextConnection());
    }
    const int kept = nextConnection();
    char buffer[256];
    while (kept >= 0 && ::recv(kept, buffer, sizeof buffer, 0) > 0) {
    }
    const char delivered = 0;
    EXPECT_EQ(::send(kept, &delivered, 1, MSG_NOSIGNAL), 1);
    sender.join();
    ::close(senderDone[0]);
    EXPECT_FALSE(result) << result.message();
    ::close(kept);
    ::close(listener);

    ::unlink(path.c_str());
    const int strangers = listenAsOtherUser(path);
    ASSERT_GE(strangers, 0);
    EXPECT_EQ(URLDelivery::deliver("scrivlet", urls({"scrivlet://a"}), 1s),
              std::errc::permission_denied);
    ::close(strangers);
}

// In a runtime folder that others can write to, neither end trusts the socket.
TEST(URLDeliverySender, ASharedRuntimeFolderIsRefusedByBothEnds) {
    TempHome home;
    ::chmod((home.path() / "run").c_str(), 01777);
    std::error_code error;
    EXPECT_FALSE(URLReceiver::claim("scrivlet", error));
    EXPECT_EQ(error, UserDirectories::folderNotPrivate());
    EXPECT_EQ(URLDelivery::deliver("scrivlet", urls({"scrivlet://a"}), 1s),
              UserDirectories::folderNotPrivate());
}

} // namespace
