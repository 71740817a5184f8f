#include "model/decoding.hpp"

#include "platform/values/json.hpp"

#include <gtest/gtest.h>

using model::decodeExercise;
using model::decodeExerciseList;
using model::decodeWorkout;
using model::SetType;
using platform::Dictionary;
using platform::Value;

namespace {

Dictionary json(std::string_view text) {
    auto value = platform::parseJson(text);
    if (!value || value->dictionary() == nullptr) {
        ADD_FAILURE() << "bad test JSON: " << text;
        return {};
    }
    return *value->dictionary();
}

Dictionary withSets(std::string_view sets) {
    return json(
        std::string(R"({"id": "e1", "name": "Squat", "status": "NOT_STARTED", "exerciseSets": )") +
        std::string(sets) + "}");
}

model::ExerciseSetRef onlySet(std::string_view set) {
    auto exercise = decodeExercise(withSets("[" + std::string(set) + "]"), 0);
    if (!exercise || exercise->exerciseSets->size() != 1) {
        ADD_FAILURE() << "expected one set from " << set;
        return std::make_shared<model::ExerciseSet>();
    }
    return exercise->exerciseSets->front();
}

} // namespace

TEST(DecodeExercise, GivesEveryDefaultToABareExercise) {
    auto exercise =
        decodeExercise(json(R"({"id": "e1", "name": "Squat", "status": "NOT_STARTED"})"), 4);
    ASSERT_TRUE(exercise);
    EXPECT_EQ(exercise->id, "e1");
    EXPECT_EQ(exercise->name, "Squat");
    EXPECT_EQ(exercise->status, "NOT_STARTED");
    EXPECT_TRUE(exercise->exerciseSets->empty());
    EXPECT_EQ(exercise->weightUnits, "lb");
    EXPECT_EQ(exercise->barbell, (model::Barbell{"Olympic Bar", 45, "lb"}));
    EXPECT_TRUE(exercise->isReps);
    EXPECT_TRUE(exercise->isWeight);
    EXPECT_FALSE(exercise->isDuration || exercise->isDistance || exercise->isRepsInReserve ||
                 exercise->isRatePerceivedExertion || exercise->isBand);
    EXPECT_EQ(exercise->plateMultiplier, 2);
    EXPECT_EQ(exercise->equipment, "Barbell");
    EXPECT_EQ(exercise->timerSeconds, 0);
    EXPECT_EQ(exercise->warmupTimerSeconds, 0);
    EXPECT_EQ(exercise->templateExerciseId, "");
    EXPECT_EQ(exercise->sequence, 4);
    EXPECT_FALSE(exercise->superset || exercise->category || exercise->primaryMuscle ||
                 exercise->recommendation || exercise->note);
    EXPECT_EQ(exercise->color(), model::PaletteColor::secondary);
}

TEST(DecodeExercise, DropsAnExerciseWithoutItsIdentifyingFields) {
    EXPECT_FALSE(decodeExercise(json(R"({"name": "Squat", "status": "NOT_STARTED"})"), 0));
    EXPECT_FALSE(decodeExercise(json(R"({"id": "e1", "status": "NOT_STARTED"})"), 0));
    EXPECT_FALSE(decodeExercise(json(R"({"id": "e1", "name": "Squat"})"), 0));
    EXPECT_FALSE(decodeExercise(json(R"({"id": 1, "name": "Squat", "status": "NOT_STARTED"})"), 0));
}

TEST(DecodeExercise, DerivesTheBarFromUnitsAndTheBarDictionary) {
    auto kg =
        decodeExercise(json(R"({"id": "e", "name": "n", "status": "s", "weightUnits": "kg"})"), 0);
    EXPECT_EQ(kg->barbell, (model::Barbell{"Olympic Bar", 20, "kg"}));

    auto axle = decodeExercise(json(R"({"id": "e", "name": "n", "status": "s", "weightUnits": "kg",
        "barbell": {"name": "Axle", "weight": "15", "weightUnits": "lb"}})"),
                               0);
    EXPECT_EQ(axle->barbell, (model::Barbell{"Axle", 15, "lb"}));

    auto asText = decodeExercise(json(R"({"id": "e", "name": "n", "status": "s",
        "barbell": "{\"weight\": 35, \"units\": \"lb\"}"})"),
                                 0);
    EXPECT_EQ(asText->barbell, (model::Barbell{"Olympic Bar", 35, "lb"}));

    for (const char* bar : {R"("not json")", R"({"name": "Axle"})", R"({"weight": "heavy"})",
                            R"({"weight": "inf"})", "17"}) {
        auto exercise = decodeExercise(
            json(
                std::string(
                    R"({"id": "e", "name": "n", "status": "s", "weightUnits": "stone", "barbell": )") +
                bar + "}"),
            0);
        EXPECT_EQ(exercise->barbell, (model::Barbell{"Olympic Bar", 20, "stone"})) << bar;
    }
}

TEST(DecodeExercise, ReadsNumbersFromTextAndFallsBackOnMalformedOnes) {
    auto exercise = decodeExercise(json(R"({"id": "e", "name": "n", "status": "s", "sequence": "3",
        "timerSeconds": 90, "superset": 7.8, "plateMultiplier": 1})"),
                                   0);
    EXPECT_EQ(exercise->sequence, 3);
    EXPECT_EQ(exercise->timerSeconds, 90);
    EXPECT_EQ(exercise->warmupTimerSeconds, 90);
    EXPECT_EQ(exercise->superset, 7);
    EXPECT_EQ(exercise->color(), model::PaletteColor::yellow);
    EXPECT_EQ(exercise->plateMultiplier, 1);

    auto malformed =
        decodeExercise(json(R"({"id": "e", "name": "n", "status": "s", "sequence": "3a",
        "plateMultiplier": "x", "multiplier": 1, "warmupTimerSeconds": 60, "isReps": "no",
        "isBand": 1, "equipment": 5})"),
                       9);
    EXPECT_EQ(malformed->sequence, 9);
    EXPECT_EQ(malformed->plateMultiplier, 2);
    EXPECT_EQ(malformed->warmupTimerSeconds, 60);
    EXPECT_TRUE(malformed->isReps);
    EXPECT_TRUE(malformed->isBand);
    EXPECT_EQ(malformed->equipment, "Barbell");

    auto olderName =
        decodeExercise(json(R"({"id": "e", "name": "n", "status": "s", "multiplier": 1})"), 0);
    EXPECT_EQ(olderName->plateMultiplier, 1);
}

TEST(DecodeSet, ConvertsFieldsAndGivesDefaults) {
    auto set = onlySet(R"({"id": "s1", "status": "NOT_STARTED", "reps": 5, "weight": ""})");
    EXPECT_EQ(set->id.get(), "s1");
    EXPECT_EQ(set->reps.get(), "5");
    EXPECT_EQ(set->weight.get(), "");
    EXPECT_EQ(set->setNumber.get(), "-");
    EXPECT_EQ(set->sequence, 0);
    EXPECT_EQ(set->type.get(), SetType::regular);
    EXPECT_EQ(set->bandColor.get(), "#FF5216");
    EXPECT_EQ(set->distance.get(), "");
    EXPECT_FALSE(set->maxReps || set->percentage || set->timerSeconds);
    EXPECT_FALSE(set->duration.get() || set->dateCompleted.get());

    auto bare = onlySet(R"({"id": "s1", "status": "NOT_STARTED"})");
    EXPECT_EQ(bare->weight.get(), "0");

    auto full = onlySet(R"({"id": "s2", "status": "COMPLETE", "setNumber": 2, "sequence": "1",
        "type": "myoReps", "maxReps": 8, "percentage": "0.75", "weight": 102.5, "duration": 45.9,
        "distance": 1.5, "repsInReserve": 2, "ratePerceivedExertion": "8.5", "timerSeconds": 120,
        "bandColor": "#00FF00", "dateCompleted": 1700000000000})");
    EXPECT_EQ(full->setNumber.get(), "2");
    EXPECT_EQ(full->sequence, 1);
    EXPECT_EQ(full->type.get(), SetType::myoReps);
    EXPECT_EQ(full->maxReps, 8.0f);
    EXPECT_EQ(full->percentage, 0.75f);
    EXPECT_EQ(full->weight.get(), "102.5");
    EXPECT_EQ(full->duration.get(), 45);
    EXPECT_EQ(full->distance.get(), "1.5");
    EXPECT_EQ(full->repsInReserve.get(), "2");
    EXPECT_EQ(full->ratePerceivedExertion.get(), "8.5");
    EXPECT_EQ(full->timerSeconds, 120);
    EXPECT_EQ(full->bandColor.get(), "#00FF00");
    ASSERT_TRUE(full->dateCompleted.get());
    EXPECT_EQ(full->dateCompleted.get()->unixSeconds(), 1700000000.0); // 2023-11-14T22:13:20Z
}

TEST(DecodeSet, ReadsCompletionDatesAsIsoTextOrMilliseconds) {
    auto iso =
        onlySet(R"({"id": "s", "status": "COMPLETE", "dateCompleted": "2024-03-01T17:05:00Z"})");
    ASSERT_TRUE(iso->dateCompleted.get());
    EXPECT_EQ(iso->dateCompleted.get()->unixSeconds(), 1709312700.0);
    auto text = onlySet(R"({"id": "s", "status": "COMPLETE", "dateCompleted": "1700000000000"})");
    EXPECT_FALSE(text->dateCompleted.get()); // text must be ISO 8601, not milliseconds
    auto garbage = onlySet(R"({"id": "s", "status": "COMPLETE", "dateCompleted": "yesterday"})");
    EXPECT_FALSE(garbage->dateCompleted.get());
}

TEST(DecodeSet, TakesSetKindsByExactRawString) {
    EXPECT_EQ(onlySet(R"({"id": "s", "status": "x", "type": "Warmup"})")->type.get(),
              SetType::regular);
    EXPECT_EQ(onlySet(R"({"id": "s", "status": "x", "type": "restPause"})")->type.get(),
              SetType::restPause);
    EXPECT_EQ(onlySet(R"({"id": "s", "status": "x", "type": 3})")->type.get(), SetType::regular);
}

TEST(DecodeSet, SaturatesPrescriptionsTooLargeForAFloat) {
    auto set = onlySet(R"({"id": "s", "status": "x", "maxReps": 1e300, "percentage": -1e300})");
    EXPECT_EQ(set->maxReps, std::numeric_limits<float>::infinity());
    EXPECT_EQ(set->percentage, -std::numeric_limits<float>::infinity());
}

TEST(DecodeSets, SkipsBrokenSetsAndKeepsTheRestInListOrder) {
    auto exercise = decodeExercise(withSets(R"([
        {"id": "s3", "status": "NOT_STARTED", "sequence": 3},
        {"id": "s-no-status"},
        {},
        {"id": "s1", "status": "NOT_STARTED", "sequence": 1}])"),
                                   0);
    ASSERT_EQ(exercise->exerciseSets->size(), 2u);
    EXPECT_EQ(exercise->exerciseSets->at(0)->id.get(), "s3");
    EXPECT_EQ(exercise->exerciseSets->at(1)->id.get(), "s1");

    auto mixed = decodeExercise(withSets(R"([{"id": "s1", "status": "x"}, "s2"])"), 0);
    EXPECT_TRUE(mixed->exerciseSets->empty());
}

TEST(DecodeExerciseList, UsesPositionsAsReceivedForFallbackSequences) {
    Value list = platform::parseJson(R"([
        {"id": "a", "name": "A", "status": "s"},
        {"id": "broken"},
        {"id": "c", "name": "C", "status": "s"}])")
                     .value();
    auto exercises = decodeExerciseList(&list);
    ASSERT_TRUE(exercises);
    ASSERT_EQ(exercises->size(), 2u);
    EXPECT_EQ((*exercises)[0]->sequence, 0);
    EXPECT_EQ((*exercises)[1]->id, "c");
    EXPECT_EQ((*exercises)[1]->sequence, 2);

    Value notAllDictionaries =
        platform::parseJson(R"([{"id": "a", "name": "A", "status": "s"}, 1])").value();
    EXPECT_FALSE(decodeExerciseList(&notAllDictionaries));
}

TEST(DecodeExercise, MakesANewInstanceEachTime) {
    auto dictionary = json(
        R"({"id": "e", "name": "n", "status": "s", "exerciseSets": [{"id": "s", "status": "x"}]})");
    auto first = decodeExercise(dictionary, 0);
    auto second = decodeExercise(dictionary, 0);
    EXPECT_NE(first, second);
    EXPECT_NE(first->exerciseSets->front(), second->exerciseSets->front());
}

TEST(DecodeWorkout, NeedsNameIdStatusAndWeek) {
    auto workout = decodeWorkout(json(R"({"id": "w1", "name": "Day A", "status": "NOT_STARTED",
        "week": "3", "exercises": [{"id": "e", "name": "n", "status": "s"}, {"id": "x"}]})"));
    ASSERT_TRUE(workout);
    EXPECT_EQ(workout->week, "3");
    ASSERT_EQ(workout->exercises.size(), 1u);
    EXPECT_EQ(workout->exercises[0]->id, "e");

    EXPECT_FALSE(decodeWorkout(
        json(R"({"id": "w1", "name": "Day A", "status": "NOT_STARTED", "week": 3})")));
    EXPECT_FALSE(decodeWorkout(json(R"({"name": "Day A", "status": "NOT_STARTED", "week": "3"})")));

    auto oddExercises = decodeWorkout(json(R"({"id": "w1", "name": "Day A", "status": "s",
        "week": "1", "exercises": [{"id": "e", "name": "n", "status": "s"}, 7]})"));
    ASSERT_TRUE(oddExercises);
    EXPECT_TRUE(oddExercises->exercises.empty());
}
