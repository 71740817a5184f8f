#include "widget/model.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace {

using glanceside::DateRange;
using glanceside::Exercise;
using glanceside::WidgetData;
using glanceside::WorkoutActivityAttributes;

TEST(WidgetDataDecoding, DecodesOnlyObjectsWithAllThreeKeysOfTheRightTypes) {
    const WidgetData full{"Week 1 - Day 1", "Up Next", {{"a", "Squat"}, {"b", "Row"}}};
    const struct {
        const char* json;
        std::optional<WidgetData> expected;
    } cases[] = {
        {R"({"title":"Week 1 - Day 1","status":"Up Next","exercises":[{"id":"a","name":"Squat"},)"
         R"({"id":"b","name":"Row","extra":1}],"more":true})",
         full},
        {R"({"title":"T","status":"S","exercises":[]})", WidgetData{"T", "S", {}}},
        {R"({"title":"T","exercises":[]})", std::nullopt},
        {R"({"status":"S","exercises":[]})", std::nullopt},
        {R"({"title":"T","status":"S"})", std::nullopt},
        {R"({"title":"T","status":null,"exercises":[]})", std::nullopt},
        {R"({"title":7,"status":"S","exercises":[]})", std::nullopt},
        {R"({"title":"T","status":"S","exercises":{}})", std::nullopt},
        {R"({"title":"T","status":"S","exercises":[{"id":"a"}]})", std::nullopt},
        {R"({"title":"T","status":"S","exercises":[{"id":1,"name":"Squat"}]})", std::nullopt},
        {R"({"title":"T","status":"S","exercises":["Squat"]})", std::nullopt},
        {R"([])", std::nullopt},
        {"", std::nullopt},
        {"{\"title\":\"\xff\",\"status\":\"S\",\"exercises\":[]}", std::nullopt},
        {R"({"title":"T","status":"S","exercises":[]} trailing)", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(glanceside::decodeWidgetData(c.json), c.expected) << c.json;
    }
}

TEST(ContentStateCoding, RoundTripsAndLeavesAbsentOptionalsOut) {
    WorkoutActivityAttributes::ContentState full{
        "Squat", "5 x 100 kg", {0.25, 1.0 / 3},        DateRange{{1000.5}, {1090.5}},
        "set-7", "90",         DateRange{{400}, {400}}};
    auto bare = full;
    bare.lastSetCompletedDate.reset();
    bare.timerSeconds.reset();
    bare.percentageComplete.clear();

    for (const auto& state : {full, bare}) {
        const std::string text = glanceside::encodeContentState(state);
        EXPECT_EQ(glanceside::decodeContentState(text), state) << text;
        const auto object = nlohmann::json::parse(text);
        EXPECT_EQ(object.contains("lastSetCompletedDate"), state.lastSetCompletedDate.has_value());
        EXPECT_EQ(object.contains("timerSeconds"), state.timerSeconds.has_value());
    }
    EXPECT_EQ(glanceside::encodeContentState(bare),
              R"({"nextSetName":"Squat","nextSetInfo":"5 x 100 kg","percentageComplete":[],)"
              R"("setId":"set-7","startTime":[400.0,400.0]})");
}

TEST(ContentStateCoding, RefusesStatesThatAreNotWellFormed) {
    const std::string valid = R"("nextSetName":"A","nextSetInfo":"B","percentageComplete":[0.5],)"
                              R"("setId":"s","startTime":[1,2])";
    const char* bad[] = {
        R"("lastSetCompletedDate":[5,4])", // reversed bounds
        R"("lastSetCompletedDate":[5])",
        R"("lastSetCompletedDate":"soon")",
        R"("timerSeconds":90)",
        R"("startTime":[2,1])",
        R"("percentageComplete":["half"])",
        R"("percentageComplete":[1e400])",
    };
    ASSERT_TRUE(glanceside::decodeContentState("{" + valid + "}"));
    EXPECT_TRUE(glanceside::decodeContentState("{" + valid + R"(,"timerSeconds":null})"));
    for (const char* field : bad) {
        // Later duplicate keys win in the parser, so each bad field replaces its valid one.
        EXPECT_FALSE(glanceside::decodeContentState("{" + valid + "," + field + "}")) << field;
    }
    EXPECT_FALSE(glanceside::decodeContentState(R"({"nextSetName":"A"})"));
}

TEST(ActivityAttributesCoding, RoundTripsWithItsKeys) {
    const WorkoutActivityAttributes attributes{"w-1", "Week 1 - Day 2"};
    const std::string text = glanceside::encodeAttributes(attributes);
    EXPECT_EQ(text, R"({"name":"Week 1 - Day 2","workoutId":"w-1"})");
    EXPECT_EQ(glanceside::decodeAttributes(text), attributes);
    EXPECT_FALSE(glanceside::decodeAttributes(R"({"workoutId":"w-1"})"));
}

} // namespace
