// The next-set preview: the load text, the plates for the set, and which set comes next after
// the phone's timer data, in and out of supersets.
#include "model/status.hpp"
#include "platform/exec/manual_executor.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "support/fake_session.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"
#include "timer/next_set.hpp"
#include "timer/plates.hpp"
#include "timer/rest_timer_manager.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using model::Exercise;
using model::ExerciseRef;
using model::ExerciseSet;
using model::ExerciseSetRef;
using model::Plate;

namespace {

ExerciseSetRef makeSet(std::string id, std::string status = "NOT_STARTED", std::string reps = "5",
                       std::string weight = "225") {
    auto set = std::make_shared<ExerciseSet>();
    set->id = std::move(id);
    set->status = std::move(status);
    set->reps = std::move(reps);
    set->weight = std::move(weight);
    return set;
}

ExerciseRef makeExercise(std::string name, std::int64_t sequence, std::vector<ExerciseSetRef> sets,
                         std::optional<std::int64_t> superset = std::nullopt) {
    auto exercise = std::make_shared<Exercise>();
    exercise->id = name;
    exercise->name = std::move(name);
    exercise->sequence = sequence;
    exercise->superset = superset;
    exercise->barbell = {"Olympic Bar", 45, "lb"};
    exercise->exerciseSets = std::move(sets);
    return exercise;
}

std::string loadText(const Exercise& exercise, const ExerciseSet& set) {
    return timer::nextSetLoadText(exercise, set);
}

class NextSetPreview : public ::testing::Test {
protected:
    platform::ManualExecutor executor;
    platform::MemoryKeyValueStore defaults;
    platform::MemoryLog log;
    testsupport::FakeSession session{executor.main()};
    watchsync::WatchSyncOutbox outbox{executor, session, defaults, log};
    timer::RestTimerManager timer{executor, defaults, outbox, log};

    // What the preview shows, as "exercise | load".
    std::string preview() const {
        return timer.nextSetExercise.get() + " | " + timer.nextSetLoad.get();
    }

    void choose(const ExerciseRef& exercise, std::vector<std::string> completed,
                const std::vector<ExerciseRef>& exercises) {
        timer.nextSetExercise = std::string("stale");
        timer.nextSetLoad = std::string("stale");
        timer.chooseNextSet(exercise, completed, exercises);
    }
};

} // namespace

TEST(NextSetLoadText, JoinsRepsDurationDistanceAndWeight) {
    auto squat = makeExercise("Squat", 0, {});
    auto prSet = makeSet("s", "NOT_STARTED", "5", "225");
    prSet->type = model::SetType::pr;
    EXPECT_EQ(loadText(*squat, *prSet), "5+ x 225lb");

    auto pullUp = makeExercise("Pull-up", 0, {});
    pullUp->isWeight = false;
    EXPECT_EQ(loadText(*pullUp, *makeSet("s", "NOT_STARTED", "12")), "12 reps");

    auto plank = makeExercise("Plank", 0, {});
    plank->isReps = false;
    plank->isWeight = false;
    plank->isDuration = true;
    auto timed = makeSet("s");
    timed->duration = std::int64_t{3610};
    EXPECT_EQ(loadText(*plank, *timed), "1:00:10");
    // Without a duration nothing is shown for it, and no " x " is left behind.
    EXPECT_EQ(loadText(*plank, *makeSet("s")), "");

    auto carry = makeExercise("Carry", 0, {});
    carry->weightUnits = "kg";
    carry->isDistance = true;
    carry->isDuration = true;
    auto carried = makeSet("s", "NOT_STARTED", "1", "32");
    carried->distance = std::string("40m");
    carried->duration = std::int64_t{45};
    EXPECT_EQ(loadText(*carry, *carried), "1 x 0:45 x 40m x 32kg");

    // Reps with a duration only: no " reps" suffix, as something else is recorded.
    auto hold = makeExercise("Hold", 0, {});
    hold->isWeight = false;
    hold->isDuration = true;
    EXPECT_EQ(loadText(*hold, *timed), "5 x 1:00:10");
}

TEST(NextSetLoadText, DurationsArePositionalWithLeadingZeroUnitsDropped) {
    EXPECT_EQ(timer::positionalDuration(0), "0:00");
    EXPECT_EQ(timer::positionalDuration(7), "0:07");
    EXPECT_EQ(timer::positionalDuration(60), "1:00");
    EXPECT_EQ(timer::positionalDuration(3599), "59:59");
    EXPECT_EQ(timer::positionalDuration(3600), "1:00:00");
    EXPECT_EQ(timer::positionalDuration(90061), "25:01:01");
    EXPECT_EQ(timer::positionalDuration(-5), "-0:05");
    EXPECT_FALSE(timer::positionalDuration(std::numeric_limits<std::int64_t>::min()).empty());
}

TEST(NextSetLoadText, WeightsAreNumbersOnlyAsAWholeCLocaleText) {
    EXPECT_EQ(timer::weightValue("2.5"), 2.5);
    EXPECT_EQ(timer::weightValue("225"), 225);
    EXPECT_EQ(timer::weightValue(" 225"), 0);
    EXPECT_EQ(timer::weightValue("225lb"), 0);
    EXPECT_EQ(timer::weightValue("2,5"), 0);
    EXPECT_EQ(timer::weightValue(""), 0);
}

TEST_F(NextSetPreview, ShowsTheFirstOpenSetWithItsPlates) {
    timer.availableWeightPlates = std::vector<Plate>{
        {"kg20", "kg", 20, 0}, {"lb45", "lb", 45, 4}, {"lb25", "lb", 25, 2}, {"lb10", "lb", 10, 0}};
    auto squat = makeExercise("Squat", 0,
                              {makeSet("a", "COMPLETE"), makeSet("b", "NOT_STARTED", "3", "275")});
    timer.updateNextSet(*squat, nullptr);
    EXPECT_EQ(preview(), "Squat | 3 x 275lb");
    // Only the pounds plates: 230 to load from 45s, then 25s.
    EXPECT_EQ(timer.nextSetPlates.get(),
              (std::vector<Plate>{{"lb45", "lb", 45, 4}, {"lb25", "lb", 25, 2}}));
}

TEST_F(NextSetPreview, ACompleteOrMissingSetClearsThePreview) {
    auto squat = makeExercise("Squat", 0, {makeSet("a", "COMPLETE")});
    timer.nextSetExercise = std::string("Bench");
    timer.nextSetPlates = std::vector<Plate>{{"lb45", "lb", 45, 2}};
    timer.updateNextSet(*squat, nullptr);
    EXPECT_EQ(preview(), " | ");
    EXPECT_TRUE(timer.nextSetPlates->empty());

    timer.nextSetExercise = std::string("Bench");
    timer.updateNextSet(*squat, squat->exerciseSets->front().get());
    EXPECT_EQ(preview(), " | ");
}

TEST_F(NextSetPreview, PlatesChangeOnlyForPlateLoadedEquipment) {
    timer.availableWeightPlates = std::vector<Plate>{{"lb45", "lb", 45, 0}};
    const std::vector<Plate> shown{{"old", "lb", 10, 2}};
    auto curl = makeExercise("Curl", 0, {makeSet("a", "NOT_STARTED", "10", "135")});
    curl->equipment = "Dumbbell";
    timer.nextSetPlates = shown;
    timer.updateNextSet(*curl, nullptr);
    EXPECT_EQ(preview(), "Curl | 10 x 135lb");
    EXPECT_EQ(timer.nextSetPlates.get(), shown);

    for (const char* equipment : {"Barbell", "Machine (plate loaded)", "Landmine", "Dip Belt",
                                  "Machine (plate loaded single post)"}) {
        curl->equipment = equipment;
        timer.nextSetPlates = shown;
        timer.updateNextSetPlates(*curl, curl->exerciseSets->front().get());
        EXPECT_EQ(timer.nextSetPlates.get(), (std::vector<Plate>{{"lb45", "lb", 45, 2}}))
            << equipment;
    }
    // Without a set the target is 0: below the bar, so no plates.
    timer.updateNextSetPlates(*curl, nullptr);
    EXPECT_TRUE(timer.nextSetPlates->empty());
}

TEST_F(NextSetPreview, AWeightThatIsNotANumberShowsItsTextAndNoPlates) {
    timer.availableWeightPlates = std::vector<Plate>{{"lb45", "lb", 45, 0}};
    timer.nextSetPlates = std::vector<Plate>{{"old", "lb", 10, 2}};
    auto squat = makeExercise("Squat", 0, {makeSet("a", "NOT_STARTED", "5", "heavy")});
    timer.updateNextSet(*squat, nullptr);
    EXPECT_EQ(preview(), "Squat | 5 x heavylb");
    EXPECT_TRUE(timer.nextSetPlates->empty());
}

TEST_F(NextSetPreview, AnUnusableMultiplierLoadsAsTwoSides) {
    timer.availableWeightPlates = std::vector<Plate>{{"lb45", "lb", 45, 3}, {"lb25", "lb", 25, 0}};
    auto squat = makeExercise("Squat", 0, {makeSet("a", "NOT_STARTED", "5", "185")});
    squat->plateMultiplier = 0;
    timer.updateNextSet(*squat, nullptr);
    EXPECT_EQ(timer.nextSetPlates.get(),
              (std::vector<Plate>{{"lb45", "lb", 45, 2}, {"lb25", "lb", 25, 2}}));
}

TEST_F(NextSetPreview, WithoutSupersetTheNextOpenSetNotJustCompleted) {
    auto squat = makeExercise("Squat", 1,
                              {makeSet("a", "COMPLETE"), makeSet("b", "NOT_STARTED", "3"),
                               makeSet("c", "NOT_STARTED", "1")});
    auto bench = makeExercise("Bench", 2, {makeSet("d", "NOT_STARTED", "8")});
    const std::vector<ExerciseRef> workout{squat, bench};
    choose(squat, {}, workout);
    EXPECT_EQ(preview(), "Squat | 3 x 225lb");
    choose(squat, {"b"}, workout);
    EXPECT_EQ(preview(), "Squat | 1 x 225lb");
    // Nothing left here: the following exercise's first open set.
    choose(squat, {"b", "c"}, workout);
    EXPECT_EQ(preview(), "Bench | 8 x 225lb");
}

TEST_F(NextSetPreview, ASupersetGoesOnToTheMembersAfterItThenRoundFromTheStart) {
    // Listed out of sequence order: the group is walked by sequence.
    auto curl = makeExercise("Curl", 3, {makeSet("c1", "NOT_STARTED", "12")}, 1);
    auto press = makeExercise("Press", 1, {makeSet("p1", "NOT_STARTED", "5")}, 1);
    auto row = makeExercise("Row", 2, {makeSet("r1", "NOT_STARTED", "8")}, 1);
    auto squat = makeExercise("Squat", 4, {makeSet("s1", "NOT_STARTED", "5")});
    const std::vector<ExerciseRef> workout{curl, squat, press, row};

    choose(press, {"p1"}, workout);
    EXPECT_EQ(preview(), "Row | 8 x 225lb");
    choose(row, {"r1"}, workout);
    EXPECT_EQ(preview(), "Curl | 12 x 225lb");
    // The last member goes round to the first, and to itself after the others.
    choose(curl, {"c1"}, workout);
    EXPECT_EQ(preview(), "Press | 5 x 225lb");
    press->exerciseSets.get().front()->status = std::string("COMPLETE");
    row->exerciseSets.get().front()->status = std::string("COMPLETE");
    curl->exerciseSets =
        std::vector<ExerciseSetRef>{makeSet("c1", "COMPLETE"), makeSet("c2", "NOT_STARTED", "10")};
    choose(curl, {"c1"}, workout);
    EXPECT_EQ(preview(), "Curl | 10 x 225lb");
}

TEST_F(NextSetPreview, AfterAFinishedSupersetTheExerciseAfterItsLastMember) {
    auto press = makeExercise("Press", 1, {makeSet("p1", "COMPLETE")}, 2);
    auto lunge = makeExercise("Lunge", 2, {makeSet("l1", "NOT_STARTED", "10")});
    auto row = makeExercise("Row", 3, {makeSet("r1", "NOT_STARTED")}, 2);
    auto squat = makeExercise("Squat", 5, {makeSet("s1", "NOT_STARTED", "5")});
    auto deadlift = makeExercise("Deadlift", 4, {makeSet("d1", "COMPLETE")});
    const std::vector<ExerciseRef> workout{press, lunge, row, squat, deadlift};
    // Lunge lies between the members; the search starts after Row, the group's last, and skips
    // Deadlift, which has nothing open.
    choose(press, {"r1"}, workout);
    EXPECT_EQ(preview(), "Squat | 5 x 225lb");
}

TEST_F(NextSetPreview, TheFollowingExerciseIsTheSmallestSequenceAndIgnoresCompletedIds) {
    auto squat = makeExercise("Squat", 1, {makeSet("a", "COMPLETE")});
    auto bench = makeExercise("Bench", 3, {makeSet("b", "NOT_STARTED", "8")});
    auto row = makeExercise("Row", 2, {makeSet("c", "NOT_STARTED", "10")});
    auto dip = makeExercise("Dip", 2, {makeSet("d", "NOT_STARTED", "12")});
    choose(squat, {"c"}, {squat, bench, row, dip});
    // Row and Dip share sequence 2: the earlier in the list wins, its set shown though the
    // phone named it as just completed.
    EXPECT_EQ(preview(), "Row | 10 x 225lb");
}

TEST_F(NextSetPreview, NoOpenSetAnywhereAfterClearsThePreview) {
    auto squat = makeExercise("Squat", 2, {makeSet("a", "NOT_STARTED")});
    auto bench = makeExercise("Bench", 1, {makeSet("b", "NOT_STARTED")});
    auto row = makeExercise("Row", 3, {makeSet("c", "COMPLETE")});
    choose(squat, {"a"}, {bench, squat, row});
    EXPECT_EQ(preview(), " | ");
    choose(nullptr, {}, {bench, squat, row});
    EXPECT_EQ(preview(), " | ");
}

namespace {

struct Shape {
    std::int64_t sequence;
    std::optional<std::int64_t> superset;
    std::vector<bool> completeSets;
};

std::vector<ExerciseRef> build(const std::vector<Shape>& shapes) {
    std::vector<ExerciseRef> exercises;
    int setNumber = 0;
    for (const auto& shape : shapes) {
        std::vector<ExerciseSetRef> sets;
        for (bool complete : shape.completeSets) {
            sets.push_back(
                makeSet("s" + std::to_string(setNumber++), complete ? "COMPLETE" : "NOT_STARTED"));
        }
        exercises.push_back(makeExercise("e" + std::to_string(exercises.size()), shape.sequence,
                                         std::move(sets), shape.superset));
    }
    return exercises;
}

} // namespace

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
    const auto exercises = build(shapes);
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
