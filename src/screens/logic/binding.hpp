#pragma once

#include "platform/observe/observable.hpp"

#include <functional>
#include <memory>
#include <utility>

namespace screens {

// A value that another object owns, read and written through that owner: the screens edit the
// shared records (and the main screen's page) without copying them.
template <class T> class Binding {
public:
    Binding(std::function<T()> get, std::function<void(T)> set)
        : get_(std::move(get)), set_(std::move(set)) {}

    // Bound to a field of a shared record; the binding keeps the record alive.
    template <class Owner>
    static Binding field(std::shared_ptr<Owner> owner, platform::Observable<T> Owner::*member) {
        return Binding([owner, member] { return ((*owner).*member).get(); },
                       [owner, member](T value) { ((*owner).*member).set(std::move(value)); });
    }

    // Bound to an observable whose owner outlives the binding.
    static Binding to(platform::Observable<T>& observable) {
        return Binding([&observable] { return observable.get(); },
                       [&observable](T value) { observable.set(std::move(value)); });
    }

    T get() const { return get_(); }
    void set(T value) const { set_(std::move(value)); }

private:
    std::function<T()> get_;
    std::function<void(T)> set_;
};

} // namespace screens
