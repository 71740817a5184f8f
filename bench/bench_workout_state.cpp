// The watch applying the phone's workout: a full snapshot of 50 exercises of 8 sets, and a
// delta that changes one exercise of it, each through the hub's single entry point.
#include "platform/exec/manual_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "snapshot_fixture.hpp"
#include "support/fake_session.hpp"
#include "sync/inbound/watch_data_source.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"

#include <benchmark/benchmark.h>

namespace {

using platform::Dictionary;
using platform::Value;

struct Hub {
    platform::ManualExecutor executor;
    platform::MemoryKeyValueStore defaults;
    platform::MemoryFileSystem files;
    platform::MemoryLog log;
    testsupport::FakeSession session{executor.main()};
    watchsync::WatchSyncOutbox outbox{executor, session, defaults, log};
    watchsync::WatchDataSource data{
        watchsync::WatchDataSource::Services{executor, defaults, files, &session, outbox, log}};
};

Dictionary snapshotAt(double revision) {
    auto snapshot = *bench::phoneSnapshot().dictionary();
    snapshot.insert_or_assign("syncRevision", revision);
    return snapshot;
}

void BM_ApplyFullSnapshot(benchmark::State& state) {
    Hub hub;
    hub.executor.runUntilIdle();
    double revision = 1;
    for (auto _ : state) {
        state.PauseTiming();
        auto snapshot = snapshotAt(revision++);
        state.ResumeTiming();
        hub.data.dispatchInbound(std::move(snapshot), std::nullopt);
    }
    if (hub.data.exercises.get().size() != 50) {
        state.SkipWithError("the snapshot was not applied");
    }
}
BENCHMARK(BM_ApplyFullSnapshot)->Unit(benchmark::kMicrosecond);

void BM_ApplyDeltaOfOneExercise(benchmark::State& state) {
    Hub hub;
    hub.executor.runUntilIdle();
    hub.data.dispatchInbound(snapshotAt(1), std::nullopt);
    auto snapshot = snapshotAt(1);
    auto changed = *snapshot.at("exercises").array()->at(25).dictionary();
    double revision = 2;
    std::int64_t step = 0;
    for (auto _ : state) {
        changed.insert_or_assign("timerSeconds", 60 + (step++ % 120));
        Dictionary delta{{"syncRevision", revision++},
                         {"syncSnapshotKind", "delta"},
                         {"exerciseUpdates", platform::Array{changed}}};
        hub.data.dispatchInbound(std::move(delta), std::nullopt);
    }
    if (hub.data.exercises.get().size() != 50 || !hub.data.lastDeltaRevision ||
        *hub.data.lastDeltaRevision != revision - 1) {
        state.SkipWithError("the delta was not applied");
    }
}
BENCHMARK(BM_ApplyDeltaOfOneExercise)->Unit(benchmark::kMicrosecond);

} // namespace
