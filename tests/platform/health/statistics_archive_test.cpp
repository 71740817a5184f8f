#include "platform/health/statistics_archive.hpp"

#include "platform/values/bplist.hpp"
#include "support/arbitrary_value.hpp"

#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace {

using platform::HealthType;
using platform::HealthUnit;
using platform::Statistics;

// Drawn inside a property: finite values in units that fit the type, as the builder makes them.
platform::Quantity drawQuantity(HealthType type) {
    auto units = type == HealthType::heartRate
                     ? std::vector{HealthUnit::countPerMinute, HealthUnit::countPerSecond}
                     : std::vector{HealthUnit::kilocalorie, HealthUnit::kilojoule};
    auto value = *rc::gen::arbitrary<double>();
    return {std::isfinite(value) ? value : 0.0, *rc::gen::elementOf(units)};
}

Statistics drawStatistics() {
    auto type = *rc::gen::element(HealthType::heartRate, HealthType::activeEnergyBurned);
    double start = *rc::gen::inRange(-1'000'000, 1'000'000) + 0.25;
    double length = *rc::gen::inRange(0, 86'400);
    Statistics statistics{type, platform::Date{start}, platform::Date{start + length}, std::nullopt,
                          std::nullopt};
    if (*rc::gen::arbitrary<bool>()) {
        statistics.mostRecentQuantity = drawQuantity(type);
    }
    if (*rc::gen::arbitrary<bool>()) {
        statistics.sumQuantity = drawQuantity(type);
    }
    return statistics;
}

Statistics heartRate() {
    return {HealthType::heartRate, platform::Date{100}, platform::Date{160},
            platform::Quantity{128.5, HealthUnit::countPerMinute}, std::nullopt};
}

RC_GTEST_PROP(StatisticsArchive, RoundTrips, ()) {
    auto statistics = *rc::gen::container<std::vector<Statistics>>(rc::gen::exec(drawStatistics));
    auto bytes = platform::encodeStatisticsArchive(statistics);
    RC_ASSERT(bytes.has_value());
    RC_ASSERT(platform::decodeStatisticsArchive(*bytes) == std::optional(statistics));
}

RC_GTEST_PROP(StatisticsArchive, ArbitraryBytesAndPlistsAreRejectedSafely, ()) {
    auto bytes = *rc::gen::arbitrary<platform::Data>();
    RC_ASSERT(!platform::decodeStatisticsArchive(bytes));
    auto value = *testsupport::arbitraryValue(3, false);
    auto plist = platform::encodeBinaryPlist(value);
    RC_PRE(plist.has_value());
    RC_ASSERT(!platform::decodeStatisticsArchive(*plist));
}

TEST(StatisticsArchive, LooksLikeAKeyedArchiveOfAnArray) {
    auto document = platform::decodeBinaryPlist(*platform::encodeStatisticsArchive({heartRate()}));
    ASSERT_TRUE(document);
    EXPECT_EQ(*document->find("$archiver"), platform::Value("NSKeyedArchiver"));
    const auto& objects = *document->find("$objects")->array();
    auto root = *document->find("$top")->find("root")->integer();
    const auto& array = objects.at(static_cast<std::size_t>(root));
    auto arrayClass = *array.find("$class")->integer();
    EXPECT_EQ(*objects.at(static_cast<std::size_t>(arrayClass)).find("$classname"),
              platform::Value("NSArray"));
    auto first = *array.find("NS.objects")->array()->at(0).integer();
    EXPECT_EQ(*objects.at(static_cast<std::size_t>(first)).find("quantityType"),
              platform::Value("HKQuantityTypeIdentifierHeartRate"));
}

// Each mutation of a good archive's document must make it unreadable.
TEST(StatisticsArchive, RejectsWrongShapes) {
    auto good = *platform::decodeBinaryPlist(*platform::encodeStatisticsArchive({heartRate()}));
    using Edit = std::function<void(platform::Dictionary&, platform::Array&)>;
    auto statisticsObject = [](platform::Array& objects) -> platform::Dictionary& {
        return *objects.back().get<platform::Dictionary>();
    };
    std::vector<std::pair<const char*, Edit>> edits{
        {"archiver", [](auto& root, auto&) { root["$archiver"] = "NSArchiver"; }},
        {"version", [](auto& root, auto&) { root["$version"] = 100000.0; }},
        {"root beyond objects",
         [](auto& root, auto&) {
             root["$top"] = platform::Dictionary{{"root", 99}};
         }},
        {"root at null",
         [](auto& root, auto&) {
             root["$top"] = platform::Dictionary{{"root", 0}};
         }},
        {"negative root",
         [](auto& root, auto&) {
             root["$top"] = platform::Dictionary{{"root", -1}};
         }},
        {"no null marker", [](auto&, auto& objects) { objects[0] = "null"; }},
        {"array class",
         [](auto&, auto& objects) {
             (*objects[2].template get<platform::Dictionary>())["$classname"] = "NSSet";
         }},
        {"element is the array",
         [](auto&, auto& objects) {
             (*objects[1].template get<platform::Dictionary>())["NS.objects"] = platform::Array{1};
         }},
        {"unknown type",
         [&](auto&, auto& objects) {
             statisticsObject(objects)["quantityType"] = "HKQuantityTypeIdentifierStepCount";
         }},
        {"workout type",
         [&](auto&, auto& objects) {
             statisticsObject(objects)["quantityType"] = "HKWorkoutTypeIdentifier";
         }},
        {"date as number",
         [&](auto&, auto& objects) { statisticsObject(objects)["startDate"] = 100.0; }},
        {"ends before start",
         [&](auto&, auto& objects) { statisticsObject(objects)["endDate"] = platform::Date{99}; }},
        {"heart rate in kcal",
         [&](auto&, auto& objects) {
             statisticsObject(objects)["mostRecentQuantity"] =
                 platform::Dictionary{{"value", 1.0}, {"unit", "kcal"}};
         }},
        {"infinite value",
         [&](auto&, auto& objects) {
             statisticsObject(objects)["mostRecentQuantity"] = platform::Dictionary{
                 {"value", std::numeric_limits<double>::infinity()}, {"unit", "count/min"}};
         }},
        {"quantity not a dictionary",
         [&](auto&, auto& objects) { statisticsObject(objects)["sumQuantity"] = 3.0; }},
    };
    for (const auto& [name, edit] : edits) {
        auto document = good;
        auto& root = *document.get<platform::Dictionary>();
        edit(root, *root["$objects"].get<platform::Array>());
        auto bytes = platform::encodeBinaryPlist(document);
        ASSERT_TRUE(bytes) << name;
        EXPECT_FALSE(platform::decodeStatisticsArchive(*bytes)) << name;
    }
}

TEST(StatisticsArchive, RefusesToArchiveWhatCannotComeBack) {
    auto wrongUnit = heartRate();
    wrongUnit.mostRecentQuantity->unit = HealthUnit::kilocalorie;
    auto notANumber = heartRate();
    notANumber.mostRecentQuantity->value = std::nan("");
    auto notAQuantity = heartRate();
    notAQuantity.quantityType = HealthType::workout;
    for (const auto& bad : {wrongUnit, notANumber, notAQuantity}) {
        EXPECT_FALSE(platform::encodeStatisticsArchive({heartRate(), bad}));
    }
    EXPECT_EQ(platform::decodeStatisticsArchive(*platform::encodeStatisticsArchive({})),
              std::optional(std::vector<Statistics>{}));
}

} // namespace
