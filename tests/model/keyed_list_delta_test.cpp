#include "model/keyed_list_delta.hpp"
#include "model/plate.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <set>

using model::applyKeyedListDelta;
using model::KeyedListDelta;
using model::Plate;

namespace {

using Ids = std::vector<std::string>;

Plate plate(std::string id, double weight = 1) {
    return Plate{std::move(id), "lb", weight, 0};
}

std::vector<Plate> plates(const Ids& ids) {
    std::vector<Plate> out;
    for (const auto& id : ids) {
        out.push_back(plate(id));
    }
    return out;
}

Ids ids(const std::vector<Plate>& items) {
    Ids out;
    for (const auto& item : items) {
        out.push_back(item.id);
    }
    return out;
}

// Small id alphabets, so that updates, removals and orders collide with the list often.
rc::Gen<std::string> smallId() {
    return rc::gen::element<std::string>("a", "b", "c", "d", "e", "f");
}

TEST(KeyedListDelta, UpdatesThenRemovalsThenOrderEachWrittenOnce) {
    platform::Observable<std::vector<Plate>> list(plates({"a", "b", "a"}));
    std::vector<Ids> writes;
    auto watch = list.observe([&](const std::vector<Plate>& now) { writes.push_back(ids(now)); });
    KeyedListDelta<Plate> delta;
    delta.updates = {plate("c"), plate("a", 9), plate("d")};
    delta.removedIds = {"d", "nobody"};
    delta.order = Ids{"c", "b", "c", "ghost"};
    applyKeyedListDelta(list, delta);
    EXPECT_EQ(writes, (std::vector<Ids>{{"a", "b", "a", "c"},
                                        {"a", "b", "a", "c"},
                                        {"a", "b", "a", "c", "d"},
                                        {"a", "b", "a", "c"},
                                        {"c", "b", "a", "a"}}));
    EXPECT_EQ(list->at(2).plateWeight, 9) << "only the first of repeated ids is replaced";
    EXPECT_EQ(list->at(3).plateWeight, 1);

    KeyedListDelta<Plate> emptyOrder;
    EXPECT_TRUE(emptyOrder.empty());
    emptyOrder.order = Ids{};
    EXPECT_FALSE(emptyOrder.empty());
}

TEST(ReadKeyedListDelta, SkipsUpdatesThatDoNotDecodeAndIgnoresMistypedLists) {
    using platform::Array;
    using platform::Dictionary;
    using platform::Value;
    Dictionary message{
        {"updates", Array{Dictionary{{"id", "x"}}, Dictionary{}, Dictionary{{"id", "y"}}}},
        {"removed", Array{Value("a"), Value(3)}},
        {"order", Array{Value("y"), Value("x")}}};
    std::vector<std::int64_t> indexes;
    auto delta = model::readKeyedListDelta<Plate>(
        message, "updates", "removed", "order",
        [&](const Dictionary& d, std::int64_t index) -> std::optional<Plate> {
            indexes.push_back(index);
            const auto* id = model::asString(model::lookup(d, "id"));
            return id ? std::optional(plate(*id)) : std::nullopt;
        });
    EXPECT_EQ(ids(delta.updates), (Ids{"x", "y"}));
    EXPECT_EQ(indexes, (std::vector<std::int64_t>{0, 1, 2}));
    EXPECT_TRUE(delta.removedIds.empty());
    EXPECT_EQ(delta.order, (Ids{"y", "x"}));
}

// The laws of a keyed delta on a list of unique ids: an update of a present id keeps its place,
// a new one is appended, removed ids are gone (removal wins over an update), and the order is a
// stable sort by first position in the order list with unlisted items last.
RC_GTEST_PROP(KeyedListDeltaLaws, HoldForAnyListAndDelta, ()) {
    const auto names = *rc::gen::container<std::set<std::string>>(smallId());
    std::vector<Plate> items;
    for (const auto& name : names) {
        items.push_back(plate(name, static_cast<double>(items.size())));
    }
    KeyedListDelta<Plate> delta;
    delta.updates = *rc::gen::container<std::vector<Plate>>(
        rc::gen::map(smallId(), [](std::string id) { return plate(std::move(id), 99); }));
    delta.removedIds = *rc::gen::container<Ids>(smallId());
    if (*rc::gen::arbitrary<bool>()) {
        delta.order = *rc::gen::container<Ids>(smallId());
    }
    const auto result = applyKeyedListDelta(items, delta);

    auto contains = [](const Ids& list, const std::string& id) {
        return std::find(list.begin(), list.end(), id) != list.end();
    };
    std::vector<Plate> expected = items;
    for (const auto& update : delta.updates) {
        auto at = std::find_if(expected.begin(), expected.end(),
                               [&](const Plate& p) { return p.id == update.id; });
        at == expected.end() ? expected.push_back(update) : void(*at = update);
    }
    std::erase_if(expected, [&](const Plate& p) { return contains(delta.removedIds, p.id); });
    RC_ASSERT(result.size() == expected.size());
    for (const auto& item : expected) {
        RC_ASSERT(std::count(result.begin(), result.end(), item) == 1);
    }
    if (!delta.order) {
        RC_ASSERT(result == expected);
        return;
    }
    auto rank = [&](const Plate& p) {
        return std::find(delta.order->begin(), delta.order->end(), p.id) - delta.order->begin();
    };
    auto position = [&](const Plate& p) { return std::find(expected.begin(), expected.end(), p); };
    for (std::size_t i = 1; i < result.size(); ++i) {
        RC_ASSERT(rank(result[i - 1]) <= rank(result[i]));
        if (rank(result[i - 1]) == rank(result[i])) {
            RC_ASSERT(position(result[i - 1]) < position(result[i]));
        }
    }
}

} // namespace
