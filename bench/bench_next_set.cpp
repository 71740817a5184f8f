// The rest timer's next-set preview: plate loading for one set, and choosing the next set in a
// 20-exercise workout after the phone's timer data (the choice and the preview it fills).
#include "platform/exec/manual_executor.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "support/fake_session.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"
#include "timer/next_set.hpp"
#include "timer/plates.hpp"
#include "timer/rest_timer_manager.hpp"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// A home gym's pounds and kilograms plates; 0 is no limit.
std::vector<model::Plate> gymInventory() {
    std::vector<model::Plate> plates;
    for (double weight : {55.0, 45.0, 35.0, 25.0, 10.0, 5.0, 2.5, 1.25}) {
        plates.push_back({"lb" + std::to_string(weight), "lb", weight, weight >= 25 ? 6 : 0});
    }
    for (double weight : {25.0, 20.0, 15.0, 10.0, 5.0, 2.5, 1.25, 0.5}) {
        plates.push_back({"kg" + std::to_string(weight), "kg", weight, 4});
    }
    return plates;
}

void BM_ComputePlates(benchmark::State& state) {
    std::vector<model::Plate> pounds;
    for (const auto& plate : gymInventory()) {
        if (plate.units == "lb") {
            pounds.push_back(plate);
        }
    }
    double target = 135;
    for (auto _ : state) {
        auto plates = timer::computePlates(target, 45, pounds, 2);
        benchmark::DoNotOptimize(plates);
        target = target >= 600 ? 135 : target + 2.5;
    }
}
BENCHMARK(BM_ComputePlates);

// 20 exercises of 5 sets; exercises 2k and 2k+1 form superset k for the first twelve.
std::vector<model::ExerciseRef> workoutOf20() {
    std::vector<model::ExerciseRef> exercises;
    for (int e = 0; e < 20; ++e) {
        auto exercise = std::make_shared<model::Exercise>();
        exercise->id = "e" + std::to_string(e);
        exercise->name = "Exercise " + std::to_string(e);
        exercise->sequence = e;
        exercise->barbell = {"Olympic Bar", 45, "lb"};
        if (e < 12) {
            exercise->superset = e / 2;
        }
        std::vector<model::ExerciseSetRef> sets;
        for (int s = 0; s < 5; ++s) {
            auto set = std::make_shared<model::ExerciseSet>();
            set->id = exercise->id + "-s" + std::to_string(s);
            // The first half of the workout is done.
            set->status = std::string(e < 10 ? "COMPLETE" : "NOT_STARTED");
            set->reps = std::string("5");
            set->weight = std::to_string(135 + 10 * s);
            sets.push_back(std::move(set));
        }
        exercise->exerciseSets = std::move(sets);
        exercises.push_back(std::move(exercise));
    }
    return exercises;
}

struct Timer {
    platform::ManualExecutor executor;
    platform::MemoryKeyValueStore defaults;
    platform::MemoryLog log;
    testsupport::FakeSession session{executor.main()};
    watchsync::WatchSyncOutbox outbox{executor, session, defaults, log};
    timer::RestTimerManager manager{executor, defaults, outbox, log};
};

// The phone reports the first set of exercise 10 (in superset 5 with exercise 11) completed.
void BM_ChooseNextSet(benchmark::State& state) {
    Timer timer;
    timer.manager.availableWeightPlates = gymInventory();
    const auto exercises = workoutOf20();
    const std::vector<std::string> completed{"e10-s0"};
    for (auto _ : state) {
        timer.manager.chooseNextSet(exercises[10], completed, exercises);
    }
    if (timer.manager.nextSetExercise.get() != "Exercise 11") {
        state.SkipWithError("unexpected next set");
    }
}
BENCHMARK(BM_ChooseNextSet);

// The same choice without filling the preview.
void BM_FindNextSet(benchmark::State& state) {
    const auto exercises = workoutOf20();
    const std::vector<std::string> completed{"e10-s0"};
    for (auto _ : state) {
        auto choice = timer::findNextSet(exercises[10], completed, exercises);
        benchmark::DoNotOptimize(choice);
    }
}
BENCHMARK(BM_FindNextSet);

} // namespace
