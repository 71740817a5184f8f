// The watch core and phone-sim in one process on the simulated link, with seeded faults: lost,
// duplicated, delayed and reordered frames, dropped connections, an unreachable phone, "Retry"
// answers, and restarts of the watch at any point, crashes between storing a message and handing
// it to the link included. Whatever happens, once the link is quiet the phone's logbook holds
// every message the watch queued, once, in queue order.
//
// 2000 seeds by default; the environment variables of sim_support.hpp choose others.
#include "phone/phone_app.hpp"
#include "phone/phone_link.hpp"
#include "phone/training_plan.hpp"
#include "platform/exec/manual_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/files/temp_directory.hpp"
#include "platform/link/envelope.hpp"
#include "platform/link/session_engine.hpp"
#include "platform/link/simulated_link.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "sim/sim_support.hpp"
#include "support/snapshot_store.hpp"
#include "sync/inbound/watch_data_source.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <sstream>

namespace {

using namespace std::chrono_literals;
using platform::Dictionary;
using platform::LinkRole;
using platform::Value;

using simsupport::WatchCore;

bool storedIn(const testsupport::SnapshotStore::Content& content, const std::string& id) {
    auto stored = content.find(watchsync::WatchSyncOutbox::storageKey);
    if (stored == content.end()) {
        return false;
    }
    const auto* bytes = std::get_if<platform::Data>(&stored->second);
    auto pending = bytes != nullptr ? watchsync::decodePendingList(*bytes) : std::nullopt;
    return pending && std::ranges::any_of(*pending, [&](const auto& m) { return m.id == id; });
}

// Virtual seconds of quiet after the script, for the last messages and timers.
constexpr int quietSeconds = 900;

// The faults the verdict relies on, counted over all seeds: each must really have happened.
struct Injected {
    std::size_t duplicatedFrames = 0;
    std::size_t refusedCopies = 0;
    std::size_t crashes = 0;
};

// One seeded run. Returns what went wrong, or nothing.
std::optional<std::string> runSeed(std::uint64_t seed, const std::filesystem::path& phoneDirectory,
                                   Injected& injected) {
    simsupport::Run run(seed, phoneDirectory);
    if (!run.phone.app) {
        return "phone-sim did not open: " + run.phone.error;
    }
    auto& [random, executor, log, link, phone, driver] = run;
    // The frames the watch sent with each sync id: the link may copy a frame, but the phone's
    // platform must hand each one over at most once.
    std::map<std::string, std::set<std::string>> framesOf;
    link.onFrameSent([&framesOf](LinkRole from, const Dictionary& envelope) {
        const auto kind = std::string(platform::phonelink::envelopeKind(envelope));
        const Value frame(envelope);
        const auto* id = frame.find("id") != nullptr ? frame.find("id")->string() : nullptr;
        const auto* body = frame.find("body");
        const auto* syncId = body != nullptr && body->find("syncId") != nullptr
                                 ? body->find("syncId")->string()
                                 : nullptr;
        if (from == LinkRole::watch && (kind == "userInfo" || kind == "message") && id != nullptr &&
            syncId != nullptr) {
            framesOf[*syncId].insert(kind + " " + *id);
        }
    });
    auto pick = [&run](std::uint64_t n) { return run.pick(n); };
    auto& app = phone.app;

    testsupport::SnapshotStore defaults;
    testsupport::SnapshotStore platformStore;
    platform::MemoryFileSystem watchFiles;
    auto watch =
        std::make_unique<WatchCore>(executor, link, defaults, platformStore, watchFiles, log);

    // A crash is armed for the next time the outbox stores its queue: both of the watch's stores
    // are copied at that moment and the watch starts again from the copies, as if the machine
    // had died right after that write, before the platform took the transfer.
    bool crashArmed = false;
    std::optional<
        std::pair<testsupport::SnapshotStore::Content, testsupport::SnapshotStore::Content>>
        crashState;
    defaults.onWrite([&](std::string_view key) {
        if (crashArmed && key == watchsync::WatchSyncOutbox::storageKey) {
            crashArmed = false;
            crashState.emplace(defaults.content(), platformStore.content());
            ++injected.crashes;
            log.line("sim: crash after storing the outbox");
        }
    });
    auto restartWatch = [&] {
        log.line(crashState ? "sim: watch restarts from the crash" : "sim: watch restarts");
        watch.reset();
        if (crashState) {
            defaults.restore(std::move(crashState->first));
            platformStore.restore(std::move(crashState->second));
            crashState.reset();
        }
        watch =
            std::make_unique<WatchCore>(executor, link, defaults, platformStore, watchFiles, log);
    };

    std::vector<std::string> queued;
    auto steps = 20 + pick(60);
    driver.allow(steps + quietSeconds + 30);
    for (std::uint64_t step = 0; step < steps; ++step) {
        switch (pick(10)) {
        case 0:
        case 1:
        case 2: {
            Dictionary message{
                {"type", Value("update_set")},
                {"payload", Value(Dictionary{{"step", Value(step)},
                                             {"reps", Value(std::to_string(step % 12))}})}};
            if (auto id = watch->outbox.enqueue(message)) {
                // A crash at an earlier write inside the call (the outbox first finishes the
                // work queued before it) means the message was never stored: in a real crash
                // the call would not have returned.
                if (crashState && !storedIn(crashState->first, *id)) {
                    log.line("sim: " + *id + " was lost in the crash before it was stored");
                    break;
                }
                log.line("sim: queued " + *id);
                queued.push_back(*id);
            } else {
                return "enqueue refused a valid message";
            }
            break;
        }
        case 3:
            restartWatch();
            break;
        case 4:
            crashArmed = true;
            break;
        case 5:
            if (link.connected()) {
                link.cut();
            } else {
                link.restore();
            }
            break;
        case 6:
            app->setAckStatus(pick(3) == 0 ? std::optional<std::string>("Retry")
                                           : std::optional<std::string>("Success"));
            break;
        case 7:
            app->setReachable(pick(2) == 0);
            break;
        default:
            break;
        }
        if (crashState) {
            restartWatch();
        }
        // Some tasks, one at a time, so that a restart can fall between any two of them.
        for (auto tasks = pick(40); tasks > 0 && driver.runNext(); --tasks) {
            if (crashState) {
                restartWatch();
            }
        }
    }

    // Quiet: the faults stop, the phone answers, and time passes until the watch has no more
    // to send.
    crashArmed = false;
    run.heal();
    app->setAckStatus("Success");
    for (int second = 0; second < quietSeconds; ++second) {
        driver.advanceBy(1s);
        if (second > 30 && watch->outbox.pendingMessages().empty()) {
            break;
        }
    }
    driver.advanceBy(30s);

    std::ostringstream problems;
    if (auto left = watch->outbox.pendingMessages(); !left.empty()) {
        problems << left.size() << " messages still pending on the watch; ";
    }
    std::vector<std::string> recorded;
    std::set<std::string> seen;
    for (const auto& entry : app->logbookEntries()) {
        if (!seen.insert(entry.syncId).second) {
            problems << "syncId " << entry.syncId << " recorded twice; ";
        }
        if (entry.type != "refresh_data") {
            recorded.push_back(entry.syncId);
        }
    }
    for (const auto& id : queued) {
        auto answered = app->answered().find(id);
        if (answered == app->answered().end() || !answered->second.delivered) {
            problems << id << " was dropped by the watch without a \"Success\" from the phone; ";
        }
    }
    for (const auto& [id, answered] : app->answered()) {
        injected.refusedCopies += answered.refused;
        if (answered.copies > framesOf[id].size()) {
            problems << id << " reached the phone app " << answered.copies << " times from "
                     << framesOf[id].size() << " frames: the link delivered a copy; ";
        }
    }
    injected.duplicatedFrames += link.stats().duplicated;
    if (recorded != queued) {
        problems << "logbook holds " << recorded.size() << " of the " << queued.size()
                 << " queued messages, or not in queue order";
        std::size_t same = 0;
        while (same < recorded.size() && same < queued.size() && recorded[same] == queued[same]) {
            ++same;
        }
        problems << " (they part at position " << same << ": logbook "
                 << (same < recorded.size() ? recorded[same] : "-") << ", queue "
                 << (same < queued.size() ? queued[same] : "-") << "); ";
    }
    return simsupport::verdict(problems, log);
}

} // namespace

TEST(OutboxDeliverySimulation, EveryQueuedMessageReachesThePhoneOnceAndInOrder) {
    Injected injected;
    simsupport::runSeeds(2000, "OutboxDeliverySimulation.*",
                         [&](std::uint64_t seed, const std::filesystem::path& directory) {
                             return runSeed(seed, directory, injected);
                         });
    if (simsupport::envNumber("WRISTSIDE_SIM_SEED", 0) == 0) {
        EXPECT_GT(injected.duplicatedFrames, 0U);
        EXPECT_GT(injected.refusedCopies, 0U);
        EXPECT_GT(injected.crashes, 0U);
    }
}
