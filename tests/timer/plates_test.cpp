// Plate loading: the greedy rule and its limits as properties, the colour table and the rows.
#include "timer/plates.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

using model::Plate;
using timer::computePlates;

namespace {

std::vector<Plate> inventory(std::vector<std::pair<double, std::int64_t>> weightsAndQuantities,
                             const std::string& units = "lb") {
    std::vector<Plate> plates;
    for (const auto& [weight, quantity] : weightsAndQuantities) {
        plates.push_back({"p" + std::to_string(plates.size()), units, weight, quantity});
    }
    return plates;
}

// Weights a double holds exactly, so that sums and remainders in the properties are exact.
rc::Gen<double> exactWeight() {
    return rc::gen::elementOf(
        std::vector<double>{55, 45, 35, 25, 20, 15, 10, 5, 2.5, 1.25, 1, 0.5, 0.25});
}

rc::Gen<std::vector<Plate>> exactInventory() {
    return rc::gen::map(rc::gen::container<std::vector<std::pair<double, std::int64_t>>>(
                            rc::gen::pair(exactWeight(), rc::gen::inRange<std::int64_t>(-1, 9))),
                        [](std::vector<std::pair<double, std::int64_t>> entries) {
                            return inventory(std::move(entries));
                        });
}

struct Case {
    std::vector<Plate> plates;
    double target;
    double bar;
    std::int64_t multiplier;
};

rc::Gen<Case> exactCase() {
    return rc::gen::build<Case>(
        rc::gen::set(&Case::plates, exactInventory()),
        rc::gen::set(&Case::target, rc::gen::map(rc::gen::inRange(0, 4000),
                                                 [](int quarters) { return quarters * 0.25; })),
        rc::gen::set(&Case::bar, rc::gen::elementOf(std::vector<double>{0, 15, 20, 45})),
        rc::gen::set(&Case::multiplier, rc::gen::inRange<std::int64_t>(-1, 4)));
}

std::int64_t effectiveMultiplier(std::int64_t multiplier) {
    return multiplier >= 1 ? multiplier : timer::fallbackPlateMultiplier;
}

const Plate& owned(const Case& c, const Plate& used) {
    return *std::find_if(c.plates.begin(), c.plates.end(),
                         [&](const Plate& plate) { return plate.id == used.id; });
}

} // namespace

TEST(ComputePlates, LoadsTheHeaviestWholePairsTheInventoryHolds) {
    using Loads = std::vector<std::pair<double, std::int64_t>>;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double target, bar;
        Loads plates;
        std::int64_t multiplier;
        Loads expected;
    };
    for (const auto& c :
         std::vector<Case>{{225, 45, {{45, 4}, {25, 2}, {10, 0}}, 2, {{45, 4}}},
                           // An odd count is rounded down, the lighter plates fill the rest.
                           {225, 45, {{45, 3}, {25, 0}, {10, 0}}, 2, {{45, 2}, {25, 2}, {10, 4}}},
                           {180, 45, {{45, 3}}, 1, {{45, 3}}},
                           {135, 45, {{45, 1}, {25, 0}}, 2, {{25, 2}}},
                           {135, 45, {{45, -2}}, 2, {}},
                           {65, 45, {{0, 0}, {-5, 0}, {nan, 0}, {inf, 0}, {10, 2}}, 2, {{10, 2}}},
                           {nan, 45, {{45, 0}}, 2, {}},
                           {225, inf, {{45, 0}}, 2, {}}}) {
        Loads loaded;
        for (const auto& plate :
             computePlates(c.target, c.bar, inventory(c.plates), c.multiplier)) {
            loaded.emplace_back(plate.plateWeight, plate.quantity);
        }
        EXPECT_EQ(loaded, c.expected) << c.target << " on " << c.bar;
    }
    // Equal weights keep their order; a tiny unlimited plate stays a finite count.
    EXPECT_EQ(computePlates(135, 45, inventory({{10, 0}, {45, 2}, {45, 2}}), 2).at(0).id, "p1");
    EXPECT_GT(computePlates(1e300, 0, inventory({{1e-300, 0}}), 2).at(0).quantity, 0);
}

RC_GTEST_PROP(ComputePlatesLaws, NeverMoreThanTheTarget, ()) {
    const auto plates = *rc::gen::container<std::vector<Plate>>(rc::gen::build<Plate>(
        rc::gen::set(&Plate::id, rc::gen::just(std::string("p"))),
        rc::gen::set(&Plate::plateWeight, rc::gen::arbitrary<double>()),
        rc::gen::set(&Plate::quantity, rc::gen::inRange<std::int64_t>(-2, 12))));
    const double target = *rc::gen::arbitrary<double>();
    const double bar = *rc::gen::arbitrary<double>();
    const auto multiplier = *rc::gen::inRange<std::int64_t>(-2, 5);
    const auto result = computePlates(target, bar, plates, multiplier);
    double loaded = bar;
    for (const auto& plate : result) {
        RC_ASSERT(plate.quantity >= 1);
        loaded += plate.plateWeight * static_cast<double>(plate.quantity);
    }
    RC_ASSERT(result.empty() || loaded <= target);
}

RC_GTEST_PROP(ComputePlatesLaws, NeverMorePlatesThanOwnedAndEqualSides, ()) {
    const auto c = *exactCase();
    const auto m = effectiveMultiplier(c.multiplier);
    for (const auto& used : computePlates(c.target, c.bar, c.plates, c.multiplier)) {
        const auto& plate = owned(c, used);
        RC_ASSERT(used.quantity % m == 0);
        RC_ASSERT(plate.quantity >= 0);
        RC_ASSERT(plate.quantity == 0 || used.quantity <= plate.quantity);
        RC_ASSERT(used.units == plate.units);
        RC_ASSERT(used.plateWeight == plate.plateWeight);
    }
}

RC_GTEST_PROP(ComputePlatesLaws, GreedyHeaviestFirstLeavesNoRoomForAnotherSetOfAnyUsablePlate, ()) {
    const auto c = *exactCase();
    const auto m = effectiveMultiplier(c.multiplier);
    const auto result = computePlates(c.target, c.bar, c.plates, c.multiplier);
    if (c.target < c.bar) {
        RC_ASSERT(result.empty());
        return;
    }
    auto heaviestFirst = c.plates;
    std::stable_sort(heaviestFirst.begin(), heaviestFirst.end(),
                     [](const Plate& a, const Plate& b) { return a.plateWeight > b.plateWeight; });
    // The result walks the sorted inventory in order, and at each plate no further m plates
    // would have fitted unless the plate ran out.
    double loaded = c.bar;
    std::size_t next = 0;
    for (const auto& plate : heaviestFirst) {
        std::int64_t count = 0;
        if (next < result.size() && result[next].id == plate.id) {
            count = result[next++].quantity;
        }
        loaded += plate.plateWeight * static_cast<double>(count);
        const std::int64_t limit = plate.quantity - plate.quantity % m;
        const bool ranOut = plate.quantity < 0 || (plate.quantity != 0 && count + m > limit);
        RC_ASSERT(ranOut || loaded + plate.plateWeight * static_cast<double>(m) > c.target);
    }
    RC_ASSERT(next == result.size());
}

TEST(PlateRows, ShowTheWeightAndHalfTheCountPerSide) {
    const std::vector<Plate> plates{{"a", "lb", 45, 4}, {"c", "kg", 2.5, 1}};
    const auto rows = timer::plateRows(plates);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].weightText, "45");
    EXPECT_EQ(rows[0].countText, "x2");
    EXPECT_EQ(rows[1].weightText, "2.5");
    EXPECT_EQ(rows[1].perSide, 0);
}
