#include "model/keyed_list_delta.hpp"
#include "model/plate.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <set>

using model::applyKeyedListDelta;
using model::KeyedListDelta;
using model::Plate;

namespace {

Plate plate(std::string id, double weight = 1) {
    return Plate{std::move(id), "lb", weight, 0};
}

std::vector<std::string> ids(const std::vector<Plate>& plates) {
    std::vector<std::string> out;
    for (const auto& p : plates) {
        out.push_back(p.id);
    }
    return out;
}

std::vector<Plate> plates(std::initializer_list<const char*> names) {
    std::vector<Plate> out;
    for (const auto* name : names) {
        out.push_back(plate(name));
    }
    return out;
}

using Ids = std::vector<std::string>;

} // namespace

TEST(KeyedListDelta, ReplacesInPlaceAndAppendsNewIds) {
    KeyedListDelta<Plate> delta;
    delta.updates = {plate("b", 25), plate("z", 5)};
    auto result = applyKeyedListDelta(plates({"a", "b", "c"}), delta);
    EXPECT_EQ(ids(result), (Ids{"a", "b", "c", "z"}));
    EXPECT_EQ(result[1].plateWeight, 25);
}

TEST(KeyedListDelta, RemovesThenOrdersWithUnlistedItemsLast) {
    KeyedListDelta<Plate> delta;
    delta.removedIds = {"a", "nothing"};
    delta.order = Ids{"c", "b", "ghost"};
    EXPECT_EQ(ids(applyKeyedListDelta(plates({"a", "b", "c", "d"}), delta)), (Ids{"c", "b", "d"}));
}

TEST(KeyedListDelta, RemovalWinsOverAnUpdateOfTheSameId) {
    KeyedListDelta<Plate> delta;
    delta.updates = {plate("b", 9), plate("new")};
    delta.removedIds = {"b", "new"};
    EXPECT_EQ(ids(applyKeyedListDelta(plates({"a", "b"}), delta)), (Ids{"a"}));
}

TEST(KeyedListDelta, ReplacesOnlyTheFirstOfRepeatedIds) {
    KeyedListDelta<Plate> delta;
    delta.updates = {plate("a", 9)};
    auto result = applyKeyedListDelta(plates({"a", "a"}), delta);
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(result[0].plateWeight, 9);
    EXPECT_EQ(result[1].plateWeight, 1);
}

TEST(KeyedListDelta, KeepsTheFirstPositionOfAnIdListedTwice) {
    KeyedListDelta<Plate> delta;
    delta.order = Ids{"b", "a", "b"};
    EXPECT_EQ(ids(applyKeyedListDelta(plates({"a", "b"}), delta)), (Ids{"b", "a"}));
}

TEST(KeyedListDelta, EmptyOrderListStillCountsAsADelta) {
    KeyedListDelta<Plate> delta;
    EXPECT_TRUE(delta.empty());
    delta.order = Ids{};
    EXPECT_FALSE(delta.empty());
    EXPECT_EQ(ids(applyKeyedListDelta(plates({"b", "a"}), delta)), (Ids{"b", "a"}));
}

TEST(KeyedListDelta, WritesTheObservableListOncePerUpdateRemovalAndSort) {
    platform::Observable<std::vector<Plate>> list(plates({"a", "b"}));
    std::vector<Ids> writes;
    auto subscription =
        list.observe([&](const std::vector<Plate>& now) { writes.push_back(ids(now)); });
    KeyedListDelta<Plate> delta;
    delta.updates = {plate("c"), plate("a", 2)};
    delta.removedIds = {"b"};
    delta.order = Ids{"c"};
    applyKeyedListDelta(list, delta);
    EXPECT_EQ(writes, (std::vector<Ids>{{"a", "b", "c"}, {"a", "b", "c"}, {"a", "c"}, {"c", "a"}}));
}

TEST(ReadKeyedListDelta, SkipsUpdatesThatDoNotDecodeAndIgnoresMistypedLists) {
    using platform::Array;
    using platform::Dictionary;
    using platform::Value;
    Dictionary message{
        {"updates", Value(Array{Value(Dictionary{{"id", Value("x")}}), Value(Dictionary{}),
                                Value(Dictionary{{"id", Value("y")}})})},
        {"removed", Value(Array{Value("a"), Value(3)})},
        {"order", Value(Array{Value("y"), Value("x")})},
    };
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

namespace {

// Small id alphabets so that updates, removals and orders collide with the list often.
rc::Gen<std::string> smallId() {
    return rc::gen::element<std::string>("a", "b", "c", "d", "e", "f", "g", "h");
}

rc::Gen<std::vector<Plate>> uniquePlates() {
    return rc::gen::map(rc::gen::container<std::set<std::string>>(smallId()),
                        [](const std::set<std::string>& names) {
                            std::vector<Plate> out;
                            double w = 1;
                            for (const auto& n : names) {
                                out.push_back(plate(n, w++));
                            }
                            return out;
                        });
}

} // namespace

RC_GTEST_PROP(KeyedListDeltaLaws, UpdateOfAPresentIdKeepsLengthAndPosition, ()) {
    auto items = *uniquePlates().as("items");
    RC_PRE(!items.empty());
    auto index = *rc::gen::inRange<std::size_t>(0, items.size()).as("index");
    KeyedListDelta<Plate> delta;
    delta.updates = {plate(items[index].id, 99)};
    auto result = applyKeyedListDelta(items, delta);
    RC_ASSERT(result.size() == items.size());
    RC_ASSERT(result[index] == delta.updates[0]);
}

RC_GTEST_PROP(KeyedListDeltaLaws, EveryRemovedIdIsGone, ()) {
    auto items = *uniquePlates().as("items");
    KeyedListDelta<Plate> delta;
    delta.updates =
        *rc::gen::container<std::vector<Plate>>(rc::gen::map(smallId(), [](std::string id) {
             return plate(std::move(id), 50);
         })).as("updates");
    delta.removedIds = *rc::gen::container<std::vector<std::string>>(smallId()).as("removed");
    auto result = applyKeyedListDelta(items, delta);
    for (const auto& item : result) {
        RC_ASSERT(std::find(delta.removedIds.begin(), delta.removedIds.end(), item.id) ==
                  delta.removedIds.end());
    }
}

RC_GTEST_PROP(KeyedListDeltaLaws, OrderIsStableAndPutsUnlistedItemsLast, ()) {
    // Repeated ids in the list itself, to see that equal ranks keep their relative order.
    auto items =
        *rc::gen::container<std::vector<Plate>>(rc::gen::map(smallId(), [](std::string id) {
             return plate(std::move(id));
         })).as("items");
    for (std::size_t i = 0; i < items.size(); ++i) {
        items[i].plateWeight = static_cast<double>(i); // the original position
    }
    KeyedListDelta<Plate> delta;
    delta.order = *rc::gen::container<std::vector<std::string>>(smallId()).as("order");
    auto result = applyKeyedListDelta(items, delta);
    RC_ASSERT(result.size() == items.size());

    auto rank = [&](const Plate& p) {
        auto it = std::find(delta.order->begin(), delta.order->end(), p.id);
        return static_cast<std::size_t>(it - delta.order->begin());
    };
    for (std::size_t i = 1; i < result.size(); ++i) {
        auto before = rank(result[i - 1]);
        auto after = rank(result[i]);
        RC_ASSERT(before <= after);
        if (before == after) {
            RC_ASSERT(result[i - 1].plateWeight < result[i].plateWeight);
        }
    }
}
