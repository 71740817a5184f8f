#include "model/exercise.hpp"

#include "platform/log/log.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <string>
#include <vector>

namespace {

using model::Exercise;
using model::ExerciseSet;
using model::SetType;
using platform::Dictionary;
using platform::Value;

struct Sent {
    std::vector<Dictionary> events;
    model::EditEventSink sink() {
        return [this](Dictionary message) { events.push_back(std::move(message)); };
    }
};

std::shared_ptr<ExerciseSet> setLabelled(std::string id, std::string label, std::int64_t sequence) {
    auto set = std::make_shared<ExerciseSet>();
    set->id = std::move(id);
    set->setNumber = std::move(label);
    set->sequence = sequence;
    return set;
}

model::ExerciseRef exerciseWithLabels(const std::vector<std::string>& labels) {
    auto exercise = std::make_shared<Exercise>();
    exercise->id = "E-1";
    std::vector<model::ExerciseSetRef> sets;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        sets.push_back(
            setLabelled("S-" + std::to_string(i), labels[i], static_cast<std::int64_t>(10 + i)));
    }
    exercise->exerciseSets = std::move(sets);
    return exercise;
}

std::vector<std::string> labels(const model::ExerciseRef& exercise) {
    std::vector<std::string> result;
    for (const auto& set : exercise->exerciseSets.get()) {
        result.push_back(set->setNumber.get());
    }
    return result;
}

TEST(AddSet, TheFirstSetStartsFromZeroAndTheEventCarriesItsValues) {
    Exercise exercise;
    exercise.id = "E-1";
    exercise.timerSeconds = 150;
    Sent sent;
    auto set = exercise.addSet(sent.sink());

    ASSERT_EQ(exercise.exerciseSets->size(), 1u);
    EXPECT_EQ(set->id->size(), 36u);
    EXPECT_EQ(set->setNumber.get(), "1");
    EXPECT_EQ(set->bandColor.get(), "#FF5216");
    EXPECT_EQ(set->timerSeconds, 150);
    EXPECT_EQ(set->maxReps, std::nullopt);
    EXPECT_EQ(set->dateCompleted.get(), std::nullopt);
    ASSERT_EQ(sent.events.size(), 1u);
    EXPECT_EQ(sent.events[0], (Dictionary{{"type", "add_set"},
                                          {"payload", Dictionary{
                                                          {"exerciseId", "E-1"},
                                                          {"setId", set->id.get()},
                                                          {"status", "NOT_STARTED"},
                                                          {"reps", ""},
                                                          {"type", "regular"},
                                                          {"percentage", 0.0},
                                                          {"weight", "0"},
                                                          {"repsInReserve", "0"},
                                                          {"ratePerceivedExertion", "0"},
                                                          {"sequence", 0},
                                                          {"duration", 0},
                                                          {"distance", "0"},
                                                      }}}));
}

TEST(AddSet, ANewSetContinuesFromTheLastSetsSequenceAndValuesWhateverItsLabel) {
    Exercise exercise;
    exercise.id = "E-1";
    auto last = setLabelled("S-1", "W", 4);
    last->reps = std::string("8");
    last->weight = std::string("135");
    last->distance = std::string("1.5");
    last->repsInReserve = std::string("2");
    last->ratePerceivedExertion = std::string("8");
    last->percentage = 0.75F;
    last->type = SetType::warmup;
    exercise.exerciseSets = std::vector<model::ExerciseSetRef>{last};
    Sent sent;
    auto set = exercise.addSet(sent.sink());

    EXPECT_EQ(set->sequence, 5);
    EXPECT_EQ(set->setNumber.get(), "6");
    EXPECT_EQ(set->type.get(), SetType::regular);
    EXPECT_EQ(set->duration.get(), 0);
    const auto& payload = *sent.events.at(0).at("payload").dictionary();
    EXPECT_EQ(payload.at("reps"), Value("8"));
    EXPECT_EQ(payload.at("weight"), Value("135"));
    EXPECT_EQ(payload.at("distance"), Value("1.5"));
    EXPECT_EQ(payload.at("repsInReserve"), Value("2"));
    EXPECT_EQ(payload.at("ratePerceivedExertion"), Value("8"));
    EXPECT_EQ(payload.at("percentage"), Value(0.75));
    EXPECT_EQ(payload.at("sequence"), Value(5));
}

TEST(DeleteSet, NumberedLabelsFollowThePositionAndNamedOnesStay) {
    auto exercise = exerciseWithLabels({"W", "1", "2", "3"});
    Sent sent;
    exercise->deleteSet("S-1", sent.sink());
    EXPECT_EQ(labels(exercise), (std::vector<std::string>{"W", "2", "3"}));
    // Sequences are the phone's and stay.
    EXPECT_EQ(exercise->exerciseSets->at(1)->sequence, 12);

    auto twoWarmups = exerciseWithLabels({"W", "W", "1", "2"});
    twoWarmups->deleteSet("S-0", sent.sink());
    EXPECT_EQ(labels(twoWarmups), (std::vector<std::string>{"W", "2", "3"}));
}

TEST(DeleteSet, OnlyWholeIntegersInRangeCountAsNumbers) {
    auto exercise = exerciseWithLabels(
        {"X", "+7", "-1", "+", "", "1a", " 1", "99999999999999999999", "+-1", "007"});
    Sent sent;
    exercise->deleteSet("S-0", sent.sink());
    EXPECT_EQ(labels(exercise), (std::vector<std::string>{"1", "2", "+", "", "1a", " 1",
                                                          "99999999999999999999", "+-1", "9"}));
}

TEST(DeleteSet, EveryMatchGoesAndAnUnknownIdStillSendsTheEvent) {
    auto exercise = exerciseWithLabels({"1", "2"});
    exercise->exerciseSets->at(1)->id = std::string("S-0");
    Sent sent;
    exercise->deleteSet("S-0", sent.sink());
    EXPECT_TRUE(exercise->exerciseSets->empty());
    exercise->deleteSet("nope", sent.sink());
    ASSERT_EQ(sent.events.size(), 2u);
    EXPECT_EQ(sent.events[1],
              (Dictionary{{"type", "delete_set"}, {"payload", Dictionary{{"id", "nope"}}}}));
}

RC_GTEST_PROP(DeleteSet, RenumbersByPositionAfterAnyDeletion,
              (std::vector<bool> numeric, std::size_t pick)) {
    std::vector<std::string> given;
    for (std::size_t i = 0; i < numeric.size(); ++i) {
        given.push_back(numeric[i] ? std::to_string(i * 3) : "W" + std::to_string(i));
    }
    auto exercise = exerciseWithLabels(given);
    Sent sent;
    const auto victim =
        numeric.empty() ? std::string("none") : "S-" + std::to_string(pick % numeric.size());
    exercise->deleteSet(victim, sent.sink());
    const auto after = labels(exercise);
    RC_ASSERT(after.size() == (numeric.empty() ? 0 : numeric.size() - 1));
    for (std::size_t p = 0; p < after.size(); ++p) {
        if (after[p].starts_with("W")) {
            continue;
        }
        RC_ASSERT(after[p] == std::to_string(p + 1));
    }
    RC_ASSERT(sent.events.size() == 1u);
}

TEST(ChangeSetType, AWarmupTakesTheWarmupRestAndOtherKindsTheNormalRest) {
    auto exercise = exerciseWithLabels({"1", "2"});
    exercise->timerSeconds = 180;
    exercise->warmupTimerSeconds = 60;
    platform::MemoryLog log;
    Sent sent;
    exercise->changeSetType("S-1", SetType::warmup, "W", sent.sink(), log);
    const auto& set = *exercise->exerciseSets->at(1);
    EXPECT_EQ(set.type.get(), SetType::warmup);
    EXPECT_EQ(set.setNumber.get(), "W");
    EXPECT_EQ(set.timerSeconds, 60);
    exercise->changeSetType("S-1", SetType::restPause, "2", sent.sink(), log);
    EXPECT_EQ(set.timerSeconds, 180);
    ASSERT_EQ(sent.events.size(), 2u);
    EXPECT_EQ(sent.events[1],
              (Dictionary{{"type", "update_set"},
                          {"payload", Dictionary{{"id", "S-1"}, {"type", "restPause"}}}}));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"Change set type", "Got set type",
                                                     "Change set type", "Got set type"}));
}

TEST(ChangeSetType, AnUnknownSetChangesNothingAndSendsNothing) {
    auto exercise = exerciseWithLabels({"1"});
    platform::MemoryLog log;
    Sent sent;
    exercise->changeSetType("nope", SetType::drop, "D", sent.sink(), log);
    EXPECT_TRUE(sent.events.empty());
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Change set type"});
    EXPECT_EQ(labels(exercise), std::vector<std::string>{"1"});
}

TEST(SetStatus, CompletingAndStartingAreLocalAndIgnoreUnknownSets) {
    auto exercise = exerciseWithLabels({"1", "2"});
    const platform::Date at{800000000};
    exercise->markSetInProgress("S-0");
    EXPECT_EQ(exercise->exerciseSets->at(0)->status.get(), "IN_PROGRESS");
    exercise->completeSet("S-0", at);
    EXPECT_EQ(exercise->exerciseSets->at(0)->status.get(), "COMPLETE");
    EXPECT_EQ(exercise->exerciseSets->at(0)->dateCompleted.get(), at);
    exercise->completeSet("S-1", std::nullopt);
    EXPECT_EQ(exercise->exerciseSets->at(1)->dateCompleted.get(), std::nullopt);
    exercise->completeSet("nope", at);
    exercise->markSetInProgress("nope");
    EXPECT_EQ(exercise->exerciseSets->at(1)->status.get(), "COMPLETE");
}

TEST(FindSetInWorkout, TheFirstMatchAcrossExercisesInOrder) {
    auto first = exerciseWithLabels({"1"});
    auto second = exerciseWithLabels({"1", "2"});
    second->id = "E-2";
    auto found = model::findSetInWorkout({first, second}, "S-1");
    EXPECT_EQ(found.exercise, second);
    EXPECT_EQ(model::findSetInWorkout({first, second}, "S-0").exercise, first);
    EXPECT_EQ(model::findSetInWorkout({first, second}, "nope").set, nullptr);
}

} // namespace
