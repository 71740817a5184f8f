#include "platform/observe/observable.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

using platform::Observable;
using platform::Subscription;

namespace {

TEST(ObservableTest, NotifiesEveryWriteIncludingEqualValuesWithTheNewValueInPlace) {
    Observable<int> count(1);
    std::vector<int> seen;
    std::vector<int> storedWhenTold;
    auto subscription = count.observe([&](const int& value) {
        seen.push_back(value);
        storedWhenTold.push_back(count.get());
    });
    EXPECT_TRUE(seen.empty());

    count.set(2);
    count.set(2);
    count = 3;
    EXPECT_EQ(seen, (std::vector<int>{2, 2, 3}));
    EXPECT_EQ(storedWhenTold, seen);
    EXPECT_EQ(count.get(), 3);
    EXPECT_EQ(static_cast<const int&>(count), 3);
}

TEST(ObservableTest, ModifyChangesInPlaceAndNotifiesOnce) {
    Observable<std::vector<std::string>> names;
    std::vector<std::vector<std::string>> seen;
    auto subscription = names.observe([&](const auto& value) { seen.push_back(value); });

    names.modify([](auto& value) {
        value.push_back("squat");
        value.push_back("bench");
    });
    EXPECT_EQ(seen, (std::vector<std::vector<std::string>>{{"squat", "bench"}}));
    EXPECT_EQ(names->size(), 2u);
}

TEST(ObservableTest, EveryObserverHearsEveryWriteUntilItsSubscriptionEnds) {
    Observable<int> weight;
    std::vector<int> first;
    std::vector<int> second;
    auto a = weight.observe([&](const int& value) { first.push_back(value); });
    std::optional<Subscription> b =
        weight.observe([&](const int& value) { second.push_back(value); });

    weight = 60;
    b.reset();
    weight = 65;
    a.reset();
    a.reset();
    weight = 70;
    EXPECT_EQ(first, (std::vector<int>{60, 65}));
    EXPECT_EQ(second, (std::vector<int>{60}));
}

TEST(ObservableTest, ObserversMayEndSubscriptionsWhileBeingTold) {
    Observable<int> reps;
    std::vector<std::string> told;
    std::optional<Subscription> self;
    std::optional<Subscription> other;
    // Whichever of the two is told first ends the other one's subscription, so exactly one of
    // them hears the first write.
    self = reps.observe([&](const int&) {
        told.push_back("self");
        self.reset();
        other.reset();
    });
    other = reps.observe([&](const int&) {
        told.push_back("other");
        self.reset();
        other.reset();
    });
    auto last = reps.observe([&](const int&) { told.push_back("last"); });

    reps = 1;
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[1], "last");
    reps = 2;
    EXPECT_EQ(told.size(), 3u);
    EXPECT_EQ(told[2], "last");
}

TEST(ObservableTest, AnObserverAddedWhileBeingToldHearsOnlyLaterWrites) {
    Observable<int> sets;
    std::vector<int> late;
    std::vector<Subscription> subscriptions;
    subscriptions.push_back(sets.observe([&](const int&) {
        if (subscriptions.size() == 1) {
            subscriptions.push_back(sets.observe([&](const int& value) { late.push_back(value); }));
        }
    }));
    sets = 1;
    sets = 2;
    EXPECT_EQ(late, std::vector<int>{2});
}

TEST(ObservableTest, SubscriptionsMoveAndMayOutliveTheObservable) {
    std::vector<int> seen;
    Subscription kept;
    {
        Observable<int> value;
        Subscription moved = value.observe([&](const int& v) { seen.push_back(v); });
        kept = std::move(moved);
        moved.reset(); // moved-from: ends nothing
        value = 1;

        Subscription replaced = value.observe([&](const int& v) { seen.push_back(-v); });
        replaced = std::move(kept); // ends the subscription it held
        value = 2;
        kept = std::move(replaced);
    }
    kept.reset();
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}

} // namespace
