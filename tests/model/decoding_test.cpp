// The forgiving readers of the phone's values and the decoders built on them.
#include "model/conversions.hpp"
#include "model/decoding.hpp"
#include "model/set_type.hpp"
#include "platform/values/json.hpp"
#include "support/arbitrary_value.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <cmath>
#include <limits>

using model::SetType;
using platform::Array;
using platform::Dictionary;
using platform::Value;

namespace {

constexpr auto int64Min = std::numeric_limits<std::int64_t>::min();

template <class F, class T> void expectConverts(F convert, Value in, std::optional<T> expected) {
    EXPECT_EQ(convert(&in), expected) << platform::toJsonText(in);
}

Dictionary json(std::string_view text) {
    return *platform::parseJson(text)->dictionary();
}

model::ExerciseRef exerciseWith(std::string_view fields) {
    return model::decodeExercise(
        json(std::string(R"({"id": "e", "name": "n", "status": "s")") + std::string(fields) + "}"),
        9);
}

model::ExerciseSetRef setWith(std::string_view fields) {
    auto exercise = exerciseWith(std::string(R"(, "exerciseSets": [{"id": "s", "status": "x")") +
                                 std::string(fields) + "}]");
    return exercise->exerciseSets->at(0);
}

TEST(Conversions, ReadTheValueKindsThePhoneSends) {
    for (auto [in, out] : std::vector<std::pair<Value, std::string>>{
             {"12.50", "12.50"}, {-0.0, "0"}, {0.1, "0.1"}, {int64Min, "-9223372036854775808"}}) {
        expectConverts(model::asText, in, std::optional(out));
    }
    for (auto [in, out] : std::vector<std::pair<Value, double>>{
             {true, 1.0}, {"+4", 4.0}, {".5", 0.5}, {"1e400", INFINITY}}) {
        expectConverts(model::asNumber, in, std::optional(out));
    }
    for (auto [in, out] : std::vector<std::pair<Value, std::int64_t>>{
             {-2.9, -2}, {"90.7", 90}, {-9223372036854775808.0, int64Min}}) {
        expectConverts(model::asInteger, in, std::optional(out));
    }
    for (Value in : {"", " 3", "1,5", "0x10"}) {
        EXPECT_FALSE(model::asNumber(&in)) << *in.string();
    }
    Value tooLarge(9223372036854775808.0);
    EXPECT_FALSE(model::asInteger(&tooLarge));
    for (Value in : {Value(std::nan("")), Value(INFINITY)}) {
        EXPECT_FALSE(model::asInteger(&in));
        EXPECT_FALSE(model::asRevision(&in));
    }
    for (Value in : {Value(2), Value("true")}) {
        EXPECT_FALSE(model::asBoolean(&in));
    }
    Value millis("1500");
    EXPECT_EQ(model::asDateMillis(&millis)->unixSeconds(), 1.5);
    Value barText(R"({"weight": 20})");
    EXPECT_EQ(model::asDictionary(&barText), (Dictionary{{"weight", 20}}));
}

TEST(DecodeExercise, MissingFieldsTakeTheirDefaults) {
    auto bare = model::decodeExercise(json(R"({"id": "e1", "name": "Squat", "status": "S",
        "timerSeconds": 90, "exerciseSets": [{"id": "s1", "status": "x"}, {"id": "no status"}]})"),
                                      4);
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->weightUnits, "lb");
    EXPECT_EQ(bare->barbell, (model::Barbell{"Olympic Bar", 45, "lb"}));
    EXPECT_TRUE(bare->isReps && bare->isWeight && !bare->isDuration && !bare->isBand);
    EXPECT_EQ(bare->plateMultiplier, 2);
    EXPECT_EQ(bare->equipment, "Barbell");
    EXPECT_EQ(bare->warmupTimerSeconds, 90) << "the warm-up rests as long as the exercise";
    EXPECT_EQ(bare->sequence, 4);
    ASSERT_EQ(bare->exerciseSets->size(), 1u) << "a set without its status is left out";
    const auto& set = *bare->exerciseSets->front();
    EXPECT_EQ(set.weight.get(), "0");
    EXPECT_EQ(set.setNumber.get(), "-");
    EXPECT_EQ(set.type.get(), SetType::regular);
    EXPECT_EQ(set.bandColor.get(), "#FF5216");
    EXPECT_FALSE(set.timerSeconds || set.duration.get() || set.dateCompleted.get());

    EXPECT_FALSE(model::decodeExercise(json(R"({"id": 1, "name": "n", "status": "s"})"), 0));
    EXPECT_FALSE(model::decodeExercise(json(R"({"id": "e", "name": "n"})"), 0));
}

TEST(DecodeExercise, ReadsEachFieldOrFallsBack) {
    EXPECT_EQ(exerciseWith(R"(, "weightUnits": "kg")")->barbell.weight, 20);
    EXPECT_EQ(exerciseWith(R"(, "barbell": "{\"weight\": 35, \"units\": \"kg\"}")")->barbell,
              (model::Barbell{"Olympic Bar", 35, "kg"}));
    EXPECT_EQ(exerciseWith(R"(, "barbell": {"weight": "inf"})")->barbell.weight, 45);
    EXPECT_EQ(exerciseWith(R"(, "sequence": "3a")")->sequence, 9);
    EXPECT_EQ(exerciseWith(R"(, "multiplier": 1)")->plateMultiplier, 1);
    EXPECT_EQ(exerciseWith(R"(, "plateMultiplier": "x", "multiplier": 1)")->plateMultiplier, 2);

    auto full = setWith(R"(, "setNumber": 2, "type": "myoReps", "maxReps": 1e300,
        "weight": 102.5, "duration": 45.9, "distance": 1.5, "dateCompleted": 1700000000000)");
    EXPECT_EQ(full->setNumber.get(), "2");
    EXPECT_EQ(full->maxReps, std::numeric_limits<float>::infinity());
    EXPECT_EQ(full->weight.get(), "102.5");
    EXPECT_EQ(full->duration.get(), 45);
    EXPECT_EQ(full->dateCompleted.get()->unixSeconds(), 1700000000.0);
    EXPECT_EQ(
        setWith(R"(, "dateCompleted": "2024-03-01T17:05:00Z")")->dateCompleted.get()->unixSeconds(),
        1709312700.0);
    EXPECT_FALSE(setWith(R"(, "dateCompleted": "1700000000000")")->dateCompleted.get());
    EXPECT_EQ(setWith(R"(, "type": "Warmup")")->type.get(), SetType::regular);
}

TEST(DecodeLists, KeepPositionsAsReceivedAndRefuseMixedLists) {
    Value list = *platform::parseJson(R"([{"id": "a", "name": "A", "status": "s"}, {"id": "b"},
        {"id": "c", "name": "C", "status": "s"}])");
    auto exercises = model::decodeExerciseList(&list);
    ASSERT_EQ(exercises->size(), 2u);
    EXPECT_EQ((*exercises)[1]->sequence, 2);
    Value mixed = *platform::parseJson(R"([{"id": "a", "name": "A", "status": "s"}, 1])");
    EXPECT_FALSE(model::decodeExerciseList(&mixed));
    EXPECT_FALSE(
        model::decodeWorkout(json(R"({"id": "w", "name": "A", "status": "s", "week": 3})")));
}

// Whatever the phone sends, decoding gives records or nothing, never a record without its
// identifying fields.
RC_GTEST_PROP(DecodingProperties, AnyDictionaryDecodesOrLacksItsIdentity, ()) {
    auto fields = *testsupport::arbitraryDictionary(3, true);
    // Mostly with identifying fields, so that every other field is exercised.
    if (*rc::gen::inRange(0, 4) != 0) {
        fields.insert_or_assign("id", Value("e1"));
        fields.insert_or_assign("name", Value("Squat"));
        fields.insert_or_assign("status", Value("NOT_STARTED"));
        fields.insert_or_assign("exerciseSets",
                                Value(*rc::gen::container<Array>(rc::gen::map(
                                    testsupport::arbitraryDictionary(2, true), [](Dictionary set) {
                                        set.insert_or_assign("id", Value("s1"));
                                        set.insert_or_assign("status", Value("NOT_STARTED"));
                                        return Value(std::move(set));
                                    }))));
    }
    auto isString = [&](const char* key) {
        return fields.contains(key) && fields.at(key).kind() == platform::ValueKind::string;
    };
    auto exercise = model::decodeExercise(fields, 0);
    RC_ASSERT(static_cast<bool>(exercise) ==
              (isString("id") && isString("name") && isString("status")));
    if (exercise) {
        RC_ASSERT(std::isfinite(exercise->barbell.weight));
    }
    auto value = *testsupport::arbitraryValue(4, true);
    if (auto list = model::decodeExerciseList(&value)) {
        RC_ASSERT(list->size() <= value.array()->size());
    }
    if (const auto* dictionary = value.dictionary()) {
        if (auto workout = model::decodeWorkout(*dictionary)) {
            RC_ASSERT(dictionary->at("week") == Value(workout->week));
        }
    }
}

} // namespace
