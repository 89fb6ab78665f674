#include "Platform/base/Combine.h"
#include "Platform/base/RunLoop.h"
#include "Platform/control/VirtualClock.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace scrivlet;

namespace {

using Log = std::vector<std::string>;

// A subscriber that records "<name>:<value>".
std::function<void(const int&)> recordInto(Log& log, const std::string& name) {
    return [&log, name](const int& value) { log.push_back(name + ":" + std::to_string(value)); };
}

RunLoop makeVirtualLoop() {
    return RunLoop(makeVirtualRunLoopBackend(Date{}));
}

} // namespace

TEST(CurrentValueSubjectTest, SubscribersGetTheCurrentValueThenEverySendInSubscriptionOrder) {
    CurrentValueSubject<int> subject(1);
    Log log;
    AnyCancellable a = subject.sink(recordInto(log, "a"));
    subject.send(2);
    AnyCancellable b = subject.sink(recordInto(log, "b"));
    subject.send(3);

    EXPECT_EQ(log, (Log{"a:1", "a:2", "b:2", "a:3", "b:3"}));
    EXPECT_EQ(subject.value(), 3);
}

TEST(CurrentValueSubjectTest, SubscribersMayCancelThemselvesOrOthersDuringDelivery) {
    CurrentValueSubject<int> subject(0);
    Log log;
    AnyCancellable first;
    auto second = std::make_unique<AnyCancellable>();
    AnyCancellable third;
    first = subject.sink([&](const int& value) {
        log.push_back("first:" + std::to_string(value));
        if (value == 1) {
            second.reset(); // later in this very delivery: must not get 1
        }
        if (value == 2) {
            first = AnyCancellable(); // drops the closure that is running now
            log.push_back("first still running");
        }
    });
    *second = subject.sink(recordInto(log, "second"));
    third = subject.sink(recordInto(log, "third"));
    log.clear();

    subject.send(1);
    subject.send(2);
    subject.send(3);

    EXPECT_EQ(log,
              (Log{"first:1", "third:1", "first:2", "first still running", "third:2", "third:3"}));
}

TEST(CurrentValueSubjectTest, ReentrantSendsAreQueuedBehindTheValueBeingDelivered) {
    CurrentValueSubject<int> subject(0);
    Log log;
    AnyCancellable echo = subject.sink([&](const int& value) {
        log.push_back("echo:" + std::to_string(value));
        if (value == 1) {
            subject.send(2);
            subject.send(3);
            log.push_back("value now " + std::to_string(subject.value()));
        }
    });
    AnyCancellable other = subject.sink(recordInto(log, "other"));
    log.clear();

    subject.send(1);

    EXPECT_EQ(log,
              (Log{"echo:1", "value now 3", "other:1", "echo:2", "other:2", "echo:3", "other:3"}));
}

TEST(CurrentValueSubjectTest, SendFromTheInitialDeliveryIsNotNestedInsideIt) {
    CurrentValueSubject<int> subject(0);
    Log log;
    AnyCancellable early = subject.sink(recordInto(log, "early"));
    bool inside = false;
    AnyCancellable late = subject.sink([&](const int& value) {
        EXPECT_FALSE(inside) << "delivered " << value << " while handling another value";
        inside = true;
        log.push_back("late:" + std::to_string(value));
        if (value == 0) {
            subject.send(1);
        }
        inside = false;
    });

    EXPECT_EQ(log, (Log{"early:0", "late:0", "early:1", "late:1"}));
}

TEST(CurrentValueSubjectTest, SubscribingDuringDeliveryGivesTheNewcomerEachValueOnce) {
    CurrentValueSubject<int> subject(0);
    Log log;
    std::vector<AnyCancellable> newcomers;
    AnyCancellable host = subject.sink([&](const int& value) {
        log.push_back("host:" + std::to_string(value));
        if (value == 1) {
            newcomers.push_back(subject.sink(recordInto(log, "joinedOn1")));
        }
        if (value == 2) {
            subject.send(3); // queued: the next newcomer already sees 3 as current
            newcomers.push_back(subject.sink(recordInto(log, "joinedOn2")));
        }
    });
    AnyCancellable tail = subject.sink(recordInto(log, "tail"));
    log.clear();

    subject.send(1);
    subject.send(2);

    EXPECT_EQ(log, (Log{"host:1", "joinedOn1:1", "tail:1", "host:2", "joinedOn2:3", "tail:2",
                        "joinedOn1:2", "host:3", "tail:3", "joinedOn1:3"}));
}

TEST(CurrentValueSubjectTest, SubscriptionsAndPublishersOutliveTheSubject) {
    auto subject = std::make_unique<CurrentValueSubject<int>>(0);
    Log log;
    AnyCancellable destroyer = subject->sink([&](const int& value) {
        if (value == 1) {
            subject.reset();
        }
    });
    AnyCancellable witness = subject->sink(recordInto(log, "witness"));
    Publisher<int> publisher = subject->publisher();
    log.clear();

    subject->send(1); // destroys the subject mid-delivery; the send still completes

    EXPECT_EQ(log, (Log{"witness:1"}));
    AnyCancellable late = publisher.sink(recordInto(log, "late"));
    EXPECT_EQ(log.size(), 1U);
    destroyer.cancel();
    witness.cancel();
}

TEST(PublisherTest, RemoveDuplicatesComparesWithTheLastValueOfEachSubscription) {
    CurrentValueSubject<std::optional<std::string>> subject(std::nullopt);
    std::vector<std::optional<std::string>> first;
    std::vector<std::optional<std::string>> second;
    AnyCancellable a = subject.publisher().removeDuplicates().sink(
        [&](const std::optional<std::string>& value) { first.push_back(value); });
    subject.send(std::nullopt);
    subject.send("draft");
    subject.send("draft");
    AnyCancellable b = subject.publisher().removeDuplicates().sink(
        [&](const std::optional<std::string>& value) { second.push_back(value); });
    subject.send(std::nullopt);
    subject.send(std::nullopt);
    subject.send("draft");

    using Values = std::vector<std::optional<std::string>>;
    EXPECT_EQ(first, (Values{std::nullopt, "draft", std::nullopt, "draft"}));
    EXPECT_EQ(second, (Values{"draft", std::nullopt, "draft"}));
}

TEST(PublisherTest, ReceiveOnDeliversLaterInOrderAndNothingAfterCancel) {
    RunLoop loop = makeVirtualLoop();
    CurrentValueSubject<int> subject(0);
    Log log;
    AnyCancellable kept = subject.publisher().receiveOn(loop).sink(recordInto(log, "kept"));
    AnyCancellable dropped = subject.publisher().receiveOn(loop).sink(recordInto(log, "dropped"));
    subject.send(1);
    subject.send(2);
    EXPECT_TRUE(log.empty());

    dropped.cancel(); // its values are already queued
    loop.runUntilIdle();

    EXPECT_EQ(log, (Log{"kept:0", "kept:1", "kept:2"}));
}

TEST(PublisherTest, ReceiveOnSubscriberCancellingItselfSkipsTheRestOfItsQueue) {
    RunLoop loop = makeVirtualLoop();
    CurrentValueSubject<int> subject(0);
    Log log;
    auto token = std::make_unique<AnyCancellable>();
    *token = subject.publisher().receiveOn(loop).sink([&](const int& value) {
        log.push_back(std::to_string(value));
        if (value == 1) {
            token.reset();
        }
    });
    subject.send(1);
    subject.send(2);
    loop.runUntilIdle();

    EXPECT_EQ(log, (Log{"0", "1"}));
}

TEST(PublisherTest, TheAppsObservationChainDeliversDistinctValuesOnTheLoop) {
    RunLoop loop = makeVirtualLoop();
    CurrentValueSubject<std::optional<std::string>> subject(std::nullopt);
    std::vector<std::optional<std::string>> seen;
    AnyCancellable observation = subject.publisher().receiveOn(loop).removeDuplicates().sink(
        [&](const std::optional<std::string>& value) { seen.push_back(value); });
    subject.send(std::nullopt);
    subject.send("a");
    subject.send("a");
    EXPECT_TRUE(seen.empty());

    loop.runUntilIdle();
    using Values = std::vector<std::optional<std::string>>;
    EXPECT_EQ(seen, (Values{std::nullopt, "a"}));

    subject.send("b");
    observation.cancel();
    loop.runUntilIdle();
    EXPECT_EQ(seen, (Values{std::nullopt, "a"}));
}
