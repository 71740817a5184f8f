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
using timer::PlateColor;

namespace {

std::vector<Plate> inventory(std::vector<std::pair<double, std::int64_t>> weightsAndQuantities,
                             const std::string& units = "lb") {
    std::vector<Plate> plates;
    for (const auto& [weight, quantity] : weightsAndQuantities) {
        plates.push_back({"p" + std::to_string(plates.size()), units, weight, quantity});
    }
    return plates;
}

std::vector<std::pair<double, std::int64_t>> loads(const std::vector<Plate>& plates) {
    std::vector<std::pair<double, std::int64_t>> result;
    for (const auto& plate : plates) {
        result.emplace_back(plate.plateWeight, plate.quantity);
    }
    return result;
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

TEST(ComputePlates, LoadsTheHeaviestPlatesFirstUpToTheTarget) {
    EXPECT_EQ(loads(computePlates(225, 45, inventory({{45, 4}, {25, 2}, {10, 0}}), 2)),
              (std::vector<std::pair<double, std::int64_t>>{{45, 4}}));
    // Order of the inventory does not matter; equal weights keep theirs.
    auto plates = computePlates(135, 45, inventory({{10, 0}, {45, 2}, {45, 2}}), 2);
    ASSERT_EQ(plates.size(), 1u);
    EXPECT_EQ(plates[0].id, "p1");
}

TEST(ComputePlates, AnOddCountIsRoundedDownAndTheNextLighterPlateFillsTheRest) {
    // 180 to load with three 45s: two of them, then 90 more from the 25s and 10s.
    EXPECT_EQ(loads(computePlates(225, 45, inventory({{45, 3}, {25, 0}, {10, 0}}), 2)),
              (std::vector<std::pair<double, std::int64_t>>{{45, 2}, {25, 2}, {10, 4}}));
    // On one side only, the odd plate is loaded.
    EXPECT_EQ(loads(computePlates(180, 45, inventory({{45, 3}}), 1)),
              (std::vector<std::pair<double, std::int64_t>>{{45, 3}}));
}

TEST(ComputePlates, NoPlatesAtOrBelowTheBarOrForWeightsThatAreNotNumbers) {
    const auto plates = inventory({{45, 0}, {2.5, 0}});
    EXPECT_TRUE(computePlates(45, 45, plates, 2).empty());
    EXPECT_TRUE(computePlates(40, 45, plates, 2).empty());
    EXPECT_TRUE(computePlates(0, 45, plates, 2).empty());
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(computePlates(nan, 45, plates, 2).empty());
    EXPECT_TRUE(computePlates(inf, 45, plates, 2).empty());
    EXPECT_TRUE(computePlates(225, nan, plates, 2).empty());
}

TEST(ComputePlates, OnePlateOfAPairIsUnusableWhileZeroMeansNoLimit) {
    EXPECT_TRUE(computePlates(135, 45, inventory({{45, 1}}), 2).empty());
    EXPECT_EQ(loads(computePlates(135, 45, inventory({{45, 1}, {25, 0}}), 2)),
              (std::vector<std::pair<double, std::int64_t>>{{25, 2}}));
    EXPECT_EQ(loads(computePlates(1845, 45, inventory({{45, 0}}), 2)),
              (std::vector<std::pair<double, std::int64_t>>{{45, 40}}));
    EXPECT_TRUE(computePlates(135, 45, inventory({{45, -2}}), 2).empty());
}

TEST(ComputePlates, AMultiplierBelowOneLoadsAsTwoSides) {
    const auto plates = inventory({{45, 3}, {25, 0}, {10, 0}});
    const auto expected = loads(computePlates(225, 45, plates, 2));
    EXPECT_EQ(loads(computePlates(225, 45, plates, 0)), expected);
    EXPECT_EQ(loads(computePlates(225, 45, plates, -3)), expected);
}

TEST(ComputePlates, PlatesWithoutAUsableWeightAreSkipped) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(
        loads(computePlates(65, 45, inventory({{0, 0}, {-5, 0}, {nan, 0}, {inf, 0}, {10, 2}}), 2)),
        (std::vector<std::pair<double, std::int64_t>>{{10, 2}}));
    // A tiny unlimited plate against a huge target stays a finite count.
    auto plates = computePlates(1e300, 0, inventory({{1e-300, 0}}), 2);
    ASSERT_EQ(plates.size(), 1u);
    EXPECT_GT(plates[0].quantity, 0);
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

TEST(PlateColor, FollowsTheTableByUnitsAndExactWeight) {
    const PlateColor red{{0xFF, 0x7F, 0x7F}, {0xFF, 0x49, 0x49}};
    const PlateColor blue{{0x00, 0x9E, 0xEB}, {0x1F, 0xB6, 0xFF}};
    const PlateColor yellow{{0xF8, 0xB7, 0x00}, {0xFF, 0xD5, 0x5F}};
    const PlateColor green{{0x0F, 0x9F, 0x4F}, {0x29, 0xEB, 0x7F}};
    const PlateColor small{{0x3C, 0x48, 0x58}, {0x84, 0x92, 0xA6}};
    const PlateColor grey{{0x8E, 0x8E, 0x93}, {0x8E, 0x8E, 0x93}};

    const std::vector<std::pair<double, PlateColor>> pounds{
        {55, red},    {45, blue},   {35, yellow},   {25, green}, {10, small},
        {5, small},   {2.5, small}, {1.25, small},  {1, small},  {0.5, small},
        {0.25, grey}, {20, grey},   {45.0001, grey}};
    for (const auto& [weight, color] : pounds) {
        EXPECT_EQ(timer::plateColor("lb", weight), color) << weight << " lb";
    }
    const std::vector<std::pair<double, PlateColor>> kilograms{
        {25, red},     {20, blue}, {15, yellow}, {10, green},   {5, small}, {2.5, small},
        {1.25, small}, {1, small}, {0.5, small}, {0.25, small}, {45, grey}, {55, grey}};
    for (const auto& [weight, color] : kilograms) {
        EXPECT_EQ(timer::plateColor("kg", weight), color) << weight << " kg";
        // Every unit other than "lb" reads the second column, even a different spelling.
        EXPECT_EQ(timer::plateColor("LB", weight), color) << weight << " LB";
    }
}

TEST(PlateRows, ShowTheWeightAsPercentGAndHalfTheCountPerSide) {
    const std::vector<Plate> plates{
        {"a", "lb", 45, 4}, {"b", "lb", 2.5, 2}, {"c", "kg", 1.25, 3}, {"d", "kg", 0.25, 1}};
    const auto rows = timer::plateRows(plates);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].id, "a");
    EXPECT_EQ(rows[0].weightText, "45");
    EXPECT_EQ(rows[0].countText, "x2");
    EXPECT_EQ(rows[0].color, timer::plateColor("lb", 45));
    EXPECT_EQ(rows[1].weightText, "2.5");
    EXPECT_EQ(rows[1].countText, "x1");
    EXPECT_EQ(rows[2].weightText, "1.25");
    EXPECT_EQ(rows[2].perSide, 1);
    EXPECT_EQ(rows[3].countText, "x0");
    EXPECT_EQ(rows[3].color, timer::plateColor("kg", 0.25));
}
