// Arbitrary bytes at the watch's inbound doors: as the catalogue file found at start, as a
// message from the phone (a binary property list), and as a transferred catalogue or snapshot
// file. Whatever arrives, the hub settles without crashing and its catalogue stays usable.
#include "platform/exec/manual_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "platform/values/bplist.hpp"
#include "support/fake_session.hpp"
#include "sync/inbound/watch_data_source.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

using platform::Dictionary;
using platform::Value;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::Data bytes(data, data + size);
    platform::ManualExecutor executor;
    platform::MemoryKeyValueStore defaults;
    platform::MemoryLog log;
    platform::MemoryFileSystem files;
    const auto support = files.applicationSupportDirectory();
    files.createDirectories(support);
    files.writeAtomically(support / "watch-reference-exercises-v2.json", bytes);
    testsupport::FakeSession session{executor.main()};
    watchsync::WatchSyncOutbox outbox(executor, session, defaults, log);
    watchsync::WatchDataSource hub(
        watchsync::WatchDataSource::Services{executor, defaults, files, &session, outbox, log});
    executor.runUntilIdle();

    if (auto value = platform::decodeBinaryPlist(bytes); value && value->dictionary()) {
        hub.dispatchInbound(*value->dictionary(), std::nullopt);
        executor.runUntilIdle();
    }
    // A transferred file lives only while its callback runs; here it stays where it is.
    auto received = support / "received";
    files.writeAtomically(received, bytes);
    for (const char* kind : {"reference_exercises", "full_snapshot"}) {
        hub.didReceiveFile(
            platform::ReceivedFile{received, Dictionary{{"syncPayloadKind", Value(kind)},
                                                        {"syncProtocolVersion", Value(2)},
                                                        {"referenceExercisesRevision", Value(7)},
                                                        {"syncRevision", Value(7)}}});
        executor.runUntilIdle();
    }
    for (const auto& entry : hub.referenceExercises.get()) {
        if (!entry || entry->id.empty() || entry->name.empty()) {
            __builtin_trap();
        }
    }
    return 0;
}
