#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace platform {

// Ends a subscription when destroyed.
class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, {})) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            reset();
            cancel_ = std::exchange(other.cancel_, {});
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { reset(); }

    void reset() {
        if (cancel_) {
            std::exchange(cancel_, {})();
        }
    }

private:
    std::function<void()> cancel_;
};

// A field that tells its observers synchronously, on the thread that writes it, after every
// assignment (also one that writes an equal value: each write is a change the screens redraw
// for). Not thread-safe by design: the core writes observable state on the main queue only.
template <class T> class Observable {
public:
    using Observer = std::function<void(const T&)>;

    Observable() = default;
    explicit Observable(T initial) : value_(std::move(initial)) {}
    Observable(const Observable&) = delete;
    Observable& operator=(const Observable&) = delete;

    const T& get() const { return value_; }
    operator const T&() const { return value_; }
    const T* operator->() const { return &value_; }

    void set(T value) {
        value_ = std::move(value);
        notify();
    }
    Observable& operator=(T value) {
        set(std::move(value));
        return *this;
    }

    // Changes the value in place and notifies once.
    template <class F> void modify(F&& change) {
        std::forward<F>(change)(value_);
        notify();
    }

    [[nodiscard]] Subscription observe(Observer observer) {
        auto id = nextId_++;
        observers_->emplace(id, std::move(observer));
        std::weak_ptr<Observers> weak = observers_;
        return Subscription([weak, id] {
            if (auto observers = weak.lock()) {
                observers->erase(id);
            }
        });
    }

private:
    using Observers = std::map<std::uint64_t, Observer>;

    void notify() {
        // A copy, so that an observer may unsubscribe itself or others while being told.
        auto observers = *observers_;
        for (auto& [id, observer] : observers) {
            if (observers_->count(id) != 0) {
                observer(value_);
            }
        }
    }

    T value_{};
    std::shared_ptr<Observers> observers_ = std::make_shared<Observers>();
    std::uint64_t nextId_ = 1;
};

} // namespace platform
