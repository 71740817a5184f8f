// One outbox enqueue, persisted to SQLite as in production, beside a bare SQLite commit of the
// same bytes: the difference is what the outbox adds on top of the write it cannot avoid.
#include "platform/exec/system_executor.hpp"
#include "platform/files/temp_directory.hpp"
#include "platform/log/log.hpp"
#include "platform/store/sqlite_key_value_store.hpp"
#include "platform/values/bplist.hpp"
#include "platform/values/uuid.hpp"
#include "screens/logic/sync_health.hpp"
#include "support/fake_session.hpp"
#include "sync/outbound/outbox_bookkeeping.hpp"
#include "sync/outbound/pending_watch_sync_message.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"

#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <unordered_map>
#include <vector>

namespace {

using platform::Dictionary;
using platform::Value;
using watchsync::OutboxBookkeeping;
using watchsync::PendingWatchSyncMessage;
using watchsync::WatchSyncOutbox;

// A directory of its own under the system's temporary directory, gone with the object. The
// store's file lives here, on the same disk as production data would be, not in memory.

using TempDir = platform::testing::TempDirectory;

// What the watch sends when a set is logged: a few hundred bytes once encoded.
Dictionary updateSetMessage(std::int64_t position) {
    Dictionary payload{
        {"exerciseId", platform::makeUuid()},
        {"setId", platform::makeUuid()},
        {"workoutId", platform::makeUuid()},
        {"timerId", platform::makeUuid()},
        {"position", position},
        {"reps", 8},
        {"weight", 82.5},
        {"weightUnit", "kg"},
        {"setType", "working"},
        {"rpe", 8.5},
        {"restSeconds", 120},
        {"completed", true},
        {"completedAt", platform::Date{7.6e8 + static_cast<double>(position)}},
        {"note", "last rep slow, keep the weight"},
    };
    return {{"type", "update_set"}, {"payload", std::move(payload)}};
}

// The queue as the outbox keeps it after `count` enqueues: only the head has been handed to a
// background transfer.
std::vector<PendingWatchSyncMessage> pendingList(std::size_t count) {
    std::vector<PendingWatchSyncMessage> list;
    list.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::string id = platform::makeUuid();
        Dictionary envelope = updateSetMessage(static_cast<std::int64_t>(i));
        envelope.insert_or_assign("syncId", Value(id));
        auto bytes = platform::encodeBinaryPlist(Value(std::move(envelope)));
        list.push_back(PendingWatchSyncMessage{std::move(id), std::move(bytes).value(), i == 0});
    }
    return list;
}

// The store as production opens it (WAL, synchronous=FULL), with `count` messages pending.
// The pending count stays at N: after each timed enqueue, with the clock paused, the new message
// is acknowledged and the queue waited for (pendingMessages() runs after the ack's task). Acking
// the newest rather than the head leaves the head, already handed to a transfer, in place, so
// every iteration starts from the same state and flushHead sends nothing. The ack's own commit
// grows the WAL as often as the timed one, so checkpoints land on the timed commit as often per
// iteration as in BM_BareSqliteCommit. The executor is the SystemExecutor, as in production:
// enqueue's sync hop to the outbox's thread is part of the cost.
// The bookkeeping's record for the list: every message sent once each way, as after a start.
platform::Data bookkeepingRecord(const std::vector<PendingWatchSyncMessage>& list) {
    std::unordered_map<std::string, watchsync::MessageBookkeeping> entries;
    const platform::TimePoint queued = platform::ManualClock::defaultStart();
    for (const auto& message : list) {
        entries.emplace(message.id, watchsync::MessageBookkeeping{queued, 1, 1, {}, false});
    }
    return OutboxBookkeeping::encode(entries, {queued, std::nullopt});
}

// With the second argument 1, the outbox reports to its bookkeeping, as in the program.
void BM_OutboxEnqueue(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const bool withBookkeeping = state.range(1) != 0;
    TempDir dir;
    platform::MemoryLog log;
    platform::SqliteKeyValueStore store(dir.path() / "standard.sqlite", log);
    if (store.inMemory()) {
        state.SkipWithError("the store could not open its file");
        return;
    }
    const auto seeded = pendingList(count);
    store.setData(WatchSyncOutbox::storageKey, watchsync::encodePendingList(seeded).value());
    store.setData(OutboxBookkeeping::storageKey, bookkeepingRecord(seeded));

    platform::SystemExecutor executor;
    // Activated but away: flushHead looks at the head and sends nothing.
    testsupport::FakeSession session(executor.main());
    session.state = platform::ActivationState::activated;
    session.reachable = false;
    OutboxBookkeeping bookkeeping(store, executor.clock());
    WatchSyncOutbox outbox(executor, session, store, log, withBookkeeping ? &bookkeeping : nullptr);
    if (outbox.pendingMessages().size() != count) {
        state.SkipWithError("the outbox did not load the seeded queue");
        return;
    }

    const Dictionary message = updateSetMessage(static_cast<std::int64_t>(count));
    for (auto _ : state) {
        auto id = outbox.enqueue(message);
        state.PauseTiming();
        if (!id) {
            state.SkipWithError("enqueue refused the message");
            break;
        }
        outbox.handleAck(*id, std::nullopt);
        if (outbox.pendingMessages().size() != count) {
            state.SkipWithError("the pending count drifted");
            break;
        }
        state.ResumeTiming();
    }
    if (!session.transfers.empty() || !session.liveMessages.empty()) {
        state.SkipWithError("the outbox sent something: the measure includes extra commits");
    }
    if (!log.lines().empty()) {
        state.SkipWithError(log.lines().front().c_str());
    }
    // As stored: the message with its sync id, as a binary property list.
    state.counters["message_bytes"] = static_cast<double>(pendingList(1).front().payload.size());
}
BENCHMARK(BM_OutboxEnqueue)
    ->ArgNames({"pending", "bookkeeping"})
    ->Args({10, 0})
    ->Args({100, 0})
    ->Args({100, 1})
    ->Args({1000, 0})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// The floor under an enqueue with N pending: one setData of the very bytes that enqueue
// persists (the encoded list of N + 1 messages), same store settings, nothing else.
void BM_BareSqliteCommit(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    TempDir dir;
    platform::MemoryLog log;
    platform::SqliteKeyValueStore store(dir.path() / "standard.sqlite", log);
    if (store.inMemory()) {
        state.SkipWithError("the store could not open its file");
        return;
    }
    const auto bytes = watchsync::encodePendingList(pendingList(count + 1)).value();
    for (auto _ : state) {
        store.setData(WatchSyncOutbox::storageKey, bytes);
    }
    if (!log.lines().empty()) {
        state.SkipWithError(log.lines().front().c_str());
    }
    state.counters["list_bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_BareSqliteCommit)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// The encoding half of persist() alone, on the same list: with BM_BareSqliteCommit it accounts
// for most of an enqueue, and it grows with the queue like the commit does.
void BM_OutboxEncode(benchmark::State& state) {
    const auto list = pendingList(static_cast<std::size_t>(state.range(0)) + 1);
    for (auto _ : state) {
        auto bytes = watchsync::encodePendingList(list);
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BM_OutboxEncode)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

// What start-up pays for the outbox with N pending up to the first state answer: reading its queue
// and decoding every message for the answer's "outbox"; with the second argument 1 also reading
// the bookkeeping's record; with 2 also the answer's "syncHealth" (the same decoded messages put
// in words against a workout of 6 exercises), as the program does.
void BM_OutboxStartup(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const bool withBookkeeping = state.range(1) != 0;
    const bool withFacts = state.range(1) == 2;
    TempDir dir;
    platform::MemoryLog log;
    platform::SqliteKeyValueStore store(dir.path() / "standard.sqlite", log);
    if (store.inMemory()) {
        state.SkipWithError("the store could not open its file");
        return;
    }
    const auto seeded = pendingList(count);
    store.setData(WatchSyncOutbox::storageKey, watchsync::encodePendingList(seeded).value());
    store.setData(OutboxBookkeeping::storageKey, bookkeepingRecord(seeded));
    screens::WorkoutNames names{"workout-1", "Day A", {}, {}};
    for (int e = 0; e < 6; ++e) {
        auto exercise = std::make_shared<model::Exercise>();
        exercise->id = "exercise-" + std::to_string(e);
        exercise->name = "Exercise " + std::to_string(e);
        std::vector<model::ExerciseSetRef> sets;
        for (int s = 0; s < 5; ++s) {
            sets.push_back(std::make_shared<model::ExerciseSet>());
            sets.back()->id = platform::makeUuid();
        }
        exercise->exerciseSets = std::move(sets);
        names.exercises.push_back(std::move(exercise));
    }

    platform::SystemExecutor executor;
    testsupport::FakeSession session(executor.main());
    session.state = platform::ActivationState::notActivated;
    std::size_t waiting = 0;
    for (auto _ : state) {
        OutboxBookkeeping bookkeeping(store, executor.clock());
        std::optional<WatchSyncOutbox> outbox;
        outbox.emplace(executor, session, store, log, withBookkeeping ? &bookkeeping : nullptr);
        if (withFacts) {
            const auto health = outbox->health();
            std::vector<std::optional<Value>> decoded;
            std::vector<const Dictionary*> messages;
            // Reserved: the pointers taken into it must not move.
            decoded.reserve(health.pending.size());
            for (const auto& pending : health.pending) {
                decoded.push_back(platform::decodeBinaryPlist(pending.message.payload));
                messages.push_back(decoded.back() ? decoded.back()->dictionary() : nullptr);
            }
            waiting = screens::syncHealthFacts(health, names, messages).waiting();
        } else {
            std::vector<std::optional<Value>> decoded;
            for (const auto& pending : outbox->pendingMessages()) {
                decoded.push_back(platform::decodeBinaryPlist(pending.payload));
            }
            waiting = decoded.size();
        }
        state.PauseTiming();
        outbox.reset();
        state.ResumeTiming();
    }
    if (waiting != count) {
        state.SkipWithError("the outbox did not load the seeded queue");
    }
    if (!log.lines().empty()) {
        state.SkipWithError(log.lines().front().c_str());
    }
}
BENCHMARK(BM_OutboxStartup)
    ->ArgNames({"pending", "bookkeeping"})
    ->Args({200, 0})
    ->Args({200, 1})
    ->Args({200, 2})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// The work the bookkeeping adds to start-up with N pending, on one thread, without the queue hops
// that make BM_OutboxStartup noisy on a busy machine: reading its record from SQLite, decoding it,
// and putting the already decoded messages in words for the first state answer.
void BM_BookkeepingStartupWork(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    TempDir dir;
    platform::MemoryLog log;
    platform::SqliteKeyValueStore store(dir.path() / "standard.sqlite", log);
    const auto seeded = pendingList(count);
    store.setData(OutboxBookkeeping::storageKey, bookkeepingRecord(seeded));
    watchsync::OutboxHealth health;
    std::vector<std::optional<Value>> decoded;
    std::vector<const Dictionary*> messages;
    decoded.reserve(count);
    for (const auto& message : seeded) {
        health.pending.push_back({message, {}});
        decoded.push_back(platform::decodeBinaryPlist(message.payload));
        messages.push_back(decoded.back()->dictionary());
    }
    const screens::WorkoutNames names{"workout-1", "Day A", {}, {}};
    std::size_t described = 0;
    for (auto _ : state) {
        const auto record = store.dataForKey(OutboxBookkeeping::storageKey);
        const auto entries = OutboxBookkeeping::decode(record.value());
        for (auto& pending : health.pending) {
            pending.bookkeeping = entries->first.at(pending.message.id);
        }
        described = screens::syncHealthFacts(health, names, messages).entries.size();
    }
    if (described != count) {
        state.SkipWithError("not every message was described");
    }
    state.counters["record_bytes"] = static_cast<double>(bookkeepingRecord(seeded).size());
}
BENCHMARK(BM_BookkeepingStartupWork)->Arg(200)->Unit(benchmark::kMicrosecond);

} // namespace
