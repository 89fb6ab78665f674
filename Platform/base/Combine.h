#pragma once

#include "Platform/base/Cancellable.h"
#include "Platform/base/RunLoop.h"
#include "Platform/base/ThreadAffinity.h"

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace scrivlet {

// Value streams for the few places where the app observes state: a subject that holds the
// current value, and the operators the app chains onto it. Everything runs on the thread
// that owns the subject; nothing here locks.
//
// A subscription lives as long as the AnyCancellable that `sink` returns. Whatever a
// subscriber does from inside its callback (cancel itself or others, drop its own
// cancellable, subscribe, send, destroy the subject) is safe: each delivery keeps what it
// is calling alive until the call returns.

// A description of a stream: making or copying one subscribes to nothing; every `sink`
// starts a separate subscription with its own operator state.
template <typename Output> class Publisher {
public:
    using Subscriber = std::function<void(const Output&)>;
    using Subscribe = std::function<AnyCancellable(Subscriber)>;

    explicit Publisher(Subscribe subscribe) : subscribe_(std::move(subscribe)) {}

    // Hands each value to `loop.async`, so delivery happens after the current event and in
    // sending order. The loop must outlive the subscription. Cancelling drops values that
    // are already queued as well: a cancelled observer is often being torn down.
    Publisher receiveOn(RunLoop& loop) const {
        return Publisher([upstream = subscribe_, &loop](Subscriber downstream) {
            auto link = std::make_shared<QueuedLink>(std::move(downstream));
            link->upstream =
                upstream([weakLink = std::weak_ptr<QueuedLink>(link), &loop](const Output& value) {
                    auto strong = weakLink.lock();
                    if (!strong || !strong->live) {
                        return;
                    }
                    // The block owns the link, so a subscriber that drops its own cancellable
                    // while being called does not destroy itself mid-call.
                    loop.async([strong, value] {
                        if (strong->live) {
                            strong->downstream(value);
                        }
                    });
                });
            return AnyCancellable([link] {
                link->live = false;
                link->upstream.cancel();
            });
        });
    }

    // Drops a value equal to the last one this subscription delivered.
    Publisher removeDuplicates() const requires std::equality_comparable<Output> {
        return Publisher([upstream = subscribe_](Subscriber downstream) {
            auto last = std::make_shared<std::optional<Output>>();
            return upstream([last, downstream = std::move(downstream)](const Output& value) {
                if (*last && **last == value) {
                    return;
                }
                *last = value;
                downstream(value);
            });
        });
    }

    AnyCancellable sink(Subscriber receiveValue) const {
        return subscribe_(std::move(receiveValue));
    }

private:
    struct QueuedLink {
        explicit QueuedLink(Subscriber receive) : downstream(std::move(receive)) {}
        Subscriber downstream;
        AnyCancellable upstream;
        bool live = true;
    };

    Subscribe subscribe_;
};

// Holds a value and tells subscribers about it: the current value at once on subscribing,
// then every send.
//
// A send made while the subject is delivering (a subscriber reacting by sending) is queued
// and delivered to everyone after the current value, so every subscriber sees the values in
// sending order. value() is updated at once, though; a subscriber that joins meanwhile gets
// that newest value on subscribing and is skipped when the queued send reaches it, so it
// never sees a value twice.
//
// Publishers and cancellables may outlive the subject: subscribing then yields nothing and
// cancelling does nothing. A moved-from subject may only be destroyed or assigned to.
template <typename Output> class CurrentValueSubject {
public:
    explicit CurrentValueSubject(Output initial)
        : state_(std::make_shared<State>(std::move(initial))) {}
    CurrentValueSubject(const CurrentValueSubject&) = delete;
    CurrentValueSubject& operator=(const CurrentValueSubject&) = delete;
    CurrentValueSubject(CurrentValueSubject&&) noexcept = default;
    CurrentValueSubject& operator=(CurrentValueSubject&&) noexcept = default;
    ~CurrentValueSubject() = default;

    const Output& value() const { return state_->value; }

    void send(Output value) {
        state_->thread.check("CurrentValueSubject::send");
        state_->value = value;
        const auto sequence = ++state_->sequence;
        state_->pending.push_back({sequence, std::move(value)});
        deliver(state_, [] {});
    }

    Publisher<Output> publisher() {
        return Publisher<Output>([weakState = std::weak_ptr<State>(state_)](
                                     typename Publisher<Output>::Subscriber receive) {
            auto state = weakState.lock();
            if (!state) {
                return AnyCancellable();
            }
            state->thread.check("CurrentValueSubject subscribe");
            auto entry = std::make_shared<Entry>(std::move(receive), state->sequence);
            state->entries.push_back(entry);
            std::weak_ptr<Entry> weakEntry = entry;
            try {
                deliver(state, [&] {
                    // A copy, because the subscriber may send and overwrite the stored value
                    // while it still holds the reference.
                    const Output current = state->value;
                    entry->receive(current);
                });
            } catch (...) {
                // Nobody got a cancellable for it, so nobody could ever end it.
                cancel(weakState, weakEntry);
                throw;
            }
            return AnyCancellable([weakState, weakEntry] { cancel(weakState, weakEntry); });
        });
    }

    AnyCancellable sink(typename Publisher<Output>::Subscriber receiveValue) {
        return publisher().sink(std::move(receiveValue));
    }

private:
    struct Entry {
        Entry(typename Publisher<Output>::Subscriber subscriber, std::uint64_t seen)
            : receive(std::move(subscriber)), seenThrough(seen) {}
        typename Publisher<Output>::Subscriber receive;
        // The sequence number of the newest value this subscriber has been given.
        std::uint64_t seenThrough;
        bool live = true;
    };

    struct Queued {
        std::uint64_t sequence;
        Output value;
    };

    struct State {
        explicit State(Output initial) : value(std::move(initial)) {}
        Output value;
        std::uint64_t sequence = 0;
        std::vector<std::shared_ptr<Entry>> entries;
        std::deque<Queued> pending;
        bool delivering = false;
        ThreadAffinity thread;
    };

    static void cancel(const std::weak_ptr<State>& weakState,
                       const std::weak_ptr<Entry>& weakEntry) {
        auto entry = weakEntry.lock();
        if (!entry) {
            return;
        }
        entry->live = false;
        if (auto state = weakState.lock()) {
            state->thread.check("CurrentValueSubject cancel");
            std::erase(state->entries, entry);
        }
    }

    // Runs `first` and then drains the queue, unless a delivery further up the stack is
    // already draining it: then only `first` runs and the queue waits for that delivery.
    // `state` is taken by value so it outlives a subscriber that destroys the subject.
    template <typename First> static void deliver(std::shared_ptr<State> state, First&& first) {
        if (state->delivering) {
            std::forward<First>(first)();
            return;
        }
        state->delivering = true;
        try {
            std::forward<First>(first)();
            while (!state->pending.empty()) {
                const Queued queued = std::move(state->pending.front());
                state->pending.pop_front();
                // A snapshot, so subscribers may cancel or subscribe while we walk it.
                const auto recipients = state->entries;
                for (const auto& entry : recipients) {
                    if (entry->live && entry->seenThrough < queued.sequence) {
                        entry->seenThrough = queued.sequence;
                        entry->receive(queued.value);
                    }
                }
            }
        } catch (...) {
            // A throwing subscriber abandons the sends queued behind it rather than leaving
            // them for whichever send comes next.
            state->pending.clear();
            state->delivering = false;
            throw;
        }
        state->delivering = false;
    }

    std::shared_ptr<State> state_;
};

} // namespace scrivlet
