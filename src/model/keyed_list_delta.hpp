#pragma once

#include "model/conversions.hpp"
#include "platform/observe/observable.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace model {

// A change to a list of items with string ids, as the phone sends it for the current workout's
// exercises, the exercise catalogue, the available workouts and the plate inventory.
template <class Item> struct KeyedListDelta {
    // Already decoded; elements that did not decode are not here.
    std::vector<Item> updates;
    std::vector<std::string> removedIds;
    std::optional<std::vector<std::string>> order;

    // An order list that is present but empty still counts.
    bool empty() const { return updates.empty() && removedIds.empty() && !order; }
};

// The id of an item, for the item kinds the delta is used with. Each record type provides an
// overload of itemId found by argument-dependent lookup.
template <class Item>
concept Keyed = requires(const Item& item) {
    { itemId(item) } -> std::convertible_to<std::string_view>;
};

namespace delta_steps {

// Replaces the first item with the update's id in place, or appends the update.
template <Keyed Item> void applyUpdate(std::vector<Item>& items, const Item& update) {
    auto id = itemId(update);
    auto match = std::find_if(items.begin(), items.end(),
                              [&](const Item& item) { return itemId(item) == id; });
    if (match != items.end()) {
        *match = update;
    } else {
        items.push_back(update);
    }
}

template <Keyed Item>
void applyRemovals(std::vector<Item>& items, const std::vector<std::string>& removedIds) {
    std::unordered_set<std::string_view> removed(removedIds.begin(), removedIds.end());
    std::erase_if(items, [&](const Item& item) { return removed.contains(itemId(item)); });
}

// Stable sort by position in the order list; unlisted items go last in their previous order. An
// id listed twice keeps its first position.
template <Keyed Item>
void applyOrder(std::vector<Item>& items, const std::vector<std::string>& order) {
    std::unordered_map<std::string_view, std::size_t> position;
    position.reserve(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        position.try_emplace(order[i], i);
    }
    auto rank = [&](const Item& item) {
        auto it = position.find(itemId(item));
        return it == position.end() ? order.size() : it->second;
    };
    std::stable_sort(items.begin(), items.end(),
                     [&](const Item& a, const Item& b) { return rank(a) < rank(b); });
}

} // namespace delta_steps

// The delta applied to a plain list: updates in order, then removals, then the order.
template <Keyed Item>
std::vector<Item> applyKeyedListDelta(std::vector<Item> items, const KeyedListDelta<Item>& delta) {
    for (const auto& update : delta.updates) {
        delta_steps::applyUpdate(items, update);
    }
    if (!delta.removedIds.empty()) {
        delta_steps::applyRemovals(items, delta.removedIds);
    }
    if (delta.order) {
        delta_steps::applyOrder(items, *delta.order);
    }
    return items;
}

// The delta applied to an observable list: one write per update, one for the removals, one for
// the sort, so that observers see each step as the phone's own list went through it.
template <Keyed Item>
void applyKeyedListDelta(platform::Observable<std::vector<Item>>& list,
                         const KeyedListDelta<Item>& delta) {
    for (const auto& update : delta.updates) {
        list.modify([&](std::vector<Item>& items) { delta_steps::applyUpdate(items, update); });
    }
    if (!delta.removedIds.empty()) {
        list.modify(
            [&](std::vector<Item>& items) { delta_steps::applyRemovals(items, delta.removedIds); });
    }
    if (delta.order) {
        list.modify(
            [&](std::vector<Item>& items) { delta_steps::applyOrder(items, *delta.order); });
    }
}

// Reads a delta from the phone's dictionary under the given keys. decode turns one update
// dictionary and its index in the updates list into an item, or nothing; a key whose value is not
// a list of the expected element type counts as absent.
template <Keyed Item, class Decode>
KeyedListDelta<Item> readKeyedListDelta(const platform::Dictionary& dictionary,
                                        std::string_view updatesKey, std::string_view removedKey,
                                        std::string_view orderKey, Decode&& decode) {
    KeyedListDelta<Item> delta;
    if (auto updates = asDictionaryList(lookup(dictionary, updatesKey))) {
        std::int64_t index = 0;
        for (const auto* update : *updates) {
            if (std::optional<Item> item = decode(*update, index)) {
                delta.updates.push_back(std::move(*item));
            }
            ++index;
        }
    }
    if (auto removed = asStringList(lookup(dictionary, removedKey))) {
        delta.removedIds = std::move(*removed);
    }
    delta.order = asStringList(lookup(dictionary, orderKey));
    return delta;
}

} // namespace model
