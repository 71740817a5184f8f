#pragma once

#include "platform/store/key_value_store.hpp"

#include <cstddef>
#include <deque>
#include <set>
#include <string>
#include <string_view>

namespace platform::phonelink {

// The transfer ids the receiver has handed to its application, newest last, kept in the
// platform's store so that a copy that arrives after a restart is not delivered again. Only the
// newest `capacity` are remembered. Not thread-safe; the engine's queue owns it.
class DeliveredIds {
public:
    static constexpr std::size_t defaultCapacity = 1000;

    DeliveredIds(KeyValueStore& store, std::string key, std::size_t capacity = defaultCapacity);

    bool contains(std::string_view id) const;
    // Written to the store before it returns.
    void insert(const std::string& id);
    std::size_t size() const { return order_.size(); }

private:
    KeyValueStore& store_;
    std::string key_;
    std::size_t capacity_;
    std::deque<std::string> order_;
    std::set<std::string, std::less<>> ids_;
};

} // namespace platform::phonelink
