#pragma once

#include <functional>
#include <memory>
#include <utility>

namespace scrivlet {

namespace ui {

// Two-way access to a value that lives elsewhere (usually in a model): controls read the
// value through it every time they are drawn and write every change back through it, so
// they never keep a copy that could go stale.
template <typename Value> class Binding {
public:
    Binding(std::function<Value()> get, std::function<void(Value)> set)
        : get_(std::move(get)), set_(std::move(set)) {}

    // A binding that always reads `value` and ignores writes, for previews and tests.
    static Binding constant(Value value) {
        return Binding([value] { return value; }, [](Value) {});
    }

    Value get() const { return get_(); }
    void set(Value value) const { set_(std::move(value)); }

private:
    std::function<Value()> get_;
    std::function<void(Value)> set_;
};

} // namespace ui

} // namespace scrivlet
