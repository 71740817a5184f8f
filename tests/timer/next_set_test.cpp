// The next-set preview: the load text, the plates for the set, and which set comes next after
// the phone's timer data, in and out of supersets.
#include "support/workout_builders.hpp"
#include "timer/next_set.hpp"
#include "timer/timer_fixture.hpp"

#include <rapidcheck/gtest.h>

#include <limits>

namespace {

using model::ExerciseRef;
using model::Plate;
using testsupport::makeExercise;
using testsupport::makeSet;

TEST(NextSetLoadText, JoinsRepsDurationDistanceAndWeight) {
    auto exercise = makeExercise("Squat");
    auto set = makeSet("s", "NOT_STARTED", "5", "225");
    set->type = model::SetType::pr;
    EXPECT_EQ(timer::nextSetLoadText(*exercise, *set), "5+ x 225lb");
    set->type = model::SetType::regular;
    exercise->isWeight = exercise->isReps = false;
    EXPECT_EQ(timer::nextSetLoadText(*exercise, *set), "") << "no \" x \" left behind";
    exercise->isReps = exercise->isWeight = exercise->isDistance = exercise->isDuration = true;
    exercise->weightUnits = "kg";
    set->duration = std::int64_t{3610};
    set->distance = std::string("40m");
    EXPECT_EQ(timer::nextSetLoadText(*exercise, *set), "5 x 1:00:10 x 40m x 225kg");

    for (auto [seconds, text] : std::vector<std::pair<std::int64_t, std::string>>{
             {7, "0:07"}, {3599, "59:59"}, {90061, "25:01:01"}, {-5, "-0:05"}}) {
        EXPECT_EQ(timer::positionalDuration(seconds), text);
    }
    EXPECT_FALSE(timer::positionalDuration(std::numeric_limits<std::int64_t>::min()).empty());
    EXPECT_EQ(timer::weightValue("2.5"), 2.5);
    EXPECT_EQ(timer::weightValue("2,5"), 0);
}

class NextSetPreview : public timertest::TimerTest {
protected:
    std::string preview() const {
        return timer->nextSetExercise.get() + " | " + timer->nextSetLoad.get();
    }
    std::string choose(const ExerciseRef& exercise, std::vector<std::string> completed,
                       const std::vector<ExerciseRef>& exercises) {
        timer->nextSetExercise = std::string("stale");
        timer->chooseNextSet(exercise, completed, exercises);
        return preview();
    }
};

TEST_F(NextSetPreview, ShowsTheFirstOpenSetWithThePlatesOfItsUnits) {
    timer->availableWeightPlates = std::vector<Plate>{
        {"kg20", "kg", 20, 0}, {"lb45", "lb", 45, 4}, {"lb25", "lb", 25, 2}, {"lb10", "lb", 10, 0}};
    auto squat = makeExercise("Squat", {makeSet("a", "COMPLETE"), makeSet("b", "x", "3", "275")});
    timer->updateNextSet(*squat, nullptr);
    EXPECT_EQ(preview(), "Squat | 3 x 275lb");
    EXPECT_EQ(timer->nextSetPlates.get(),
              (std::vector<Plate>{{"lb45", "lb", 45, 4}, {"lb25", "lb", 25, 2}}));
    squat->plateMultiplier = 0; // unusable: two sides
    timer->availableWeightPlates = std::vector<Plate>{{"lb45", "lb", 45, 3}, {"lb25", "lb", 25, 0}};
    squat->exerciseSets->at(1)->weight = std::string("185");
    timer->updateNextSet(*squat, nullptr);
    EXPECT_EQ(timer->nextSetPlates.get(),
              (std::vector<Plate>{{"lb45", "lb", 45, 2}, {"lb25", "lb", 25, 2}}));

    timer->updateNextSet(*squat, squat->exerciseSets->front().get());
    EXPECT_EQ(preview(), " | ") << "a complete set clears the preview";
}

TEST_F(NextSetPreview, PlatesChangeOnlyForPlateLoadedEquipment) {
    timer->availableWeightPlates = std::vector<Plate>{{"lb45", "lb", 45, 0}};
    const std::vector<Plate> shown{{"old", "lb", 10, 2}};
    auto curl = makeExercise("Curl", {makeSet("a", "NOT_STARTED", "10", "135")});
    for (const char* equipment : {"Dumbbell", "Landmine"}) {
        curl->equipment = equipment;
        timer->nextSetPlates = shown;
        timer->updateNextSet(*curl, nullptr);
        const auto expected =
            curl->equipment == "Dumbbell" ? shown : std::vector<Plate>{{"lb45", "lb", 45, 2}};
        EXPECT_EQ(timer->nextSetPlates.get(), expected) << equipment;
    }
}

TEST_F(NextSetPreview, TheNextSetGoesRoundASupersetThenToTheFollowingExercise) {
    // Listed out of sequence order: the group is walked by sequence.
    auto bench = makeExercise("Bench", {makeSet("d")}, 2);
    auto curl = makeExercise("Curl", {makeSet("c1")}, 3, 1);
    auto press = makeExercise("Press", {makeSet("p1")}, 1, 1);
    auto row = makeExercise("Row", {makeSet("r1")}, 2, 1);
    const std::vector<ExerciseRef> workout{curl, bench, press, row};
    EXPECT_EQ(choose(press, {"p1"}, workout), "Row | 5 x 225lb");
    EXPECT_EQ(choose(curl, {"c1"}, workout), "Press | 5 x 225lb");
    // Done with the group: after its last member, skipping an exercise with nothing open and
    // taking the smallest sequence, the earlier in the list among equals.
    for (const auto& member : {curl, press, row}) {
        member->exerciseSets->front()->status = std::string("COMPLETE");
    }
    auto dip = makeExercise("Dip", {makeSet("x1", "COMPLETE")}, 4);
    auto lunge = makeExercise("Lunge", {makeSet("l1")}, 5);
    auto fly = makeExercise("Fly", {makeSet("f1")}, 5);
    EXPECT_EQ(choose(press, {"p1"}, {press, lunge, row, fly, dip, curl, bench}),
              "Lunge | 5 x 225lb");
    EXPECT_EQ(choose(fly, {"f1"}, {fly, lunge}), " | ");
    EXPECT_EQ(choose(nullptr, {}, {fly, lunge}), " | ");
}

struct Shape {
    std::int64_t sequence;
    std::optional<std::int64_t> superset;
    std::vector<bool> completeSets;
};

RC_GTEST_PROP(NextSetChoiceLaws, AChosenSetIsOpenNotJustCompletedAndInReach, ()) {
    const auto shapes =
        *rc::gen::nonEmpty(rc::gen::container<std::vector<Shape>>(rc::gen::build<Shape>(
            rc::gen::set(&Shape::sequence, rc::gen::inRange<std::int64_t>(-2, 6)),
            rc::gen::set(&Shape::superset, rc::gen::map(rc::gen::inRange<std::int64_t>(-1, 3),
                                                        [](std::int64_t n) {
                                                            return n < 0 ? std::nullopt
                                                                         : std::optional(n);
                                                        })),
            rc::gen::set(&Shape::completeSets,
                         rc::gen::container<std::vector<bool>>(rc::gen::arbitrary<bool>())))));
    std::vector<ExerciseRef> exercises;
    int setNumber = 0;
    for (const auto& shape : shapes) {
        std::vector<model::ExerciseSetRef> sets;
        for (bool complete : shape.completeSets) {
            sets.push_back(
                makeSet("s" + std::to_string(setNumber++), complete ? "COMPLETE" : "NOT_STARTED"));
        }
        exercises.push_back(makeExercise("e" + std::to_string(exercises.size()), std::move(sets),
                                         shape.sequence, shape.superset));
    }
    const auto given = exercises[*rc::gen::inRange<std::size_t>(0, exercises.size())];
    const auto completed = *rc::gen::container<std::vector<std::string>>(
        rc::gen::map(rc::gen::inRange(0, 12), [](int n) { return "s" + std::to_string(n); }));
    const auto choice = timer::findNextSet(given, completed, exercises);
    if (!choice) {
        return;
    }
    const auto& chosen = *choice->exercise;
    if (choice->set != nullptr) {
        RC_ASSERT(choice->set->status.get() != "COMPLETE");
        RC_ASSERT(std::find(completed.begin(), completed.end(), choice->set->id.get()) ==
                  completed.end());
        RC_ASSERT(chosen.superset == given->superset);
        RC_ASSERT(given->superset.has_value() || choice->exercise == given);
    } else {
        RC_ASSERT(timer::firstOpenSet(chosen) != nullptr);
        RC_ASSERT(chosen.sequence > given->sequence);
    }
}

} // namespace
