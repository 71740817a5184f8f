// The whole "complete a set" gesture, as the exercise screen's action button does it: the set
// marked complete, the rest started and its session stored, the next set previewed with its
// plates, and the "complete_set" event queued in the outbox, with 100 messages already waiting
// for a phone that is away. The stores are SQLite files on disk, as in production.
#include "app/watch_core.hpp"
#include "platform/exec/manual_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/files/temp_directory.hpp"
#include "platform/log/log.hpp"
#include "platform/store/sqlite_key_value_store.hpp"
#include "support/fake_session.hpp"

#include <benchmark/benchmark.h>

namespace {

using platform::Array;
using platform::Dictionary;

constexpr std::size_t pendingCount = 100;

Dictionary workout() {
    Dictionary set{{"id", "set-1"},   {"status", "NOT_STARTED"}, {"reps", "5"},
                   {"weight", "225"}, {"type", "regular"},       {"timerSeconds", 180}};
    Dictionary exercise{
        {"id", "squat"},          {"name", "Back Squat"}, {"status", "IN_PROGRESS"},
        {"isWeight", true},       {"weightUnits", "lb"},  {"plateMultiplier", 2},
        {"equipment", "Barbell"}, {"timerSeconds", 180},  {"exerciseSets", Array{set}}};
    Array plates;
    for (double weight : {45.0, 35.0, 25.0, 10.0, 5.0, 2.5}) {
        plates.push_back(Dictionary{{"id", "plate-" + std::to_string(weight)},
                                    {"weight", weight},
                                    {"units", "lb"},
                                    {"quantity", 6}});
    }
    return {{"workout", Dictionary{{"id", "w1"}, {"name", "Day A"}, {"status", "IN_PROGRESS"}}},
            {"exercises", Array{exercise}},
            {"weight_plates", plates}};
}

void BM_CompleteASet(benchmark::State& state) {
    platform::testing::TempDirectory dir;
    platform::MemoryLog log;
    platform::SqliteKeyValueStore store(dir.path() / "standard.sqlite", log);
    platform::ManualExecutor executor;
    testsupport::FakeSession session(executor.main());
    session.reachable = false;
    platform::MemoryFileSystem files;
    app::WatchCore core(app::WatchEnvironment{executor,
                                              store,
                                              files,
                                              session,
                                              log,
                                              {},
                                              true,
                                              platform::SimulatedNotificationAnswer::allow});
    core.becameActive();
    executor.runUntilIdle();
    core.data().dispatchInbound(workout(), std::nullopt);
    executor.runUntilIdle();
    for (std::size_t i = 0; i < pendingCount; ++i) {
        core.outbox().enqueue(Dictionary{{"type", "update_set"},
                                         {"payload", Dictionary{{"id", "set-1"}, {"reps", "5"}}}});
    }
    auto exercise = core.data().exercises.get().front();
    auto& screen = core.mainScreen();
    screen.openExercise(exercise->id);
    // Holds the queue at its length: the newest message is taken as acknowledged.
    auto acknowledgeNewest = [&] {
        auto pending = core.outbox().pendingMessages();
        core.outbox().handleAck(pending.back().id, std::string("Success"));
        executor.runUntilIdle();
    };
    for (auto _ : state) {
        state.PauseTiming();
        exercise->addSet(core.data().editEvents());
        acknowledgeNewest();
        screen.selectedPage = static_cast<int>(exercise->exerciseSets->size()) - 1;
        state.ResumeTiming();
        screen.detail()->tapActionButton();
        state.PauseTiming();
        if (exercise->exerciseSets->back()->status.get() != "COMPLETE" ||
            core.outbox().pendingMessages().size() != pendingCount + 1) {
            state.SkipWithError("the set was not completed with one queued event");
            break;
        }
        acknowledgeNewest();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_CompleteASet)->Unit(benchmark::kMicrosecond);

} // namespace
