// The user logs the phone's workout on the watch, through the same actions as the control
// channel (sets completed and their rests, timed sets counting down, values typed, sets added,
// deleted and changed, the rest timer closed by hand), while the simulated link loses, repeats,
// delays and reorders frames, drops the connection, and the watch restarts from its stores.
// Once quiet, phone-sim's record of the workout equals the watch's, set by set.
#include "app/headless_control.hpp"
#include "app/state_json.hpp"
#include "app/watch_core.hpp"
#include "model/decoding.hpp"
#include "platform/values/json.hpp"
#include "sim/sim_support.hpp"
#include "sim/watch_program.hpp"
#include "support/snapshot_store.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace std::chrono_literals;
using platform::Array;
using platform::Dictionary;
using platform::Value;
using simsupport::phoneRecord;
using simsupport::record;
using simsupport::Watch;

// Virtual seconds of quiet after the script, for the last messages and timers.
constexpr int quietSeconds = 900;

std::optional<std::string> runSeed(std::uint64_t seed, const std::filesystem::path& directory) {
    simsupport::Run run(seed, directory);
    if (!run.phone.app) {
        return "phone-sim did not open: " + run.phone.error;
    }
    auto& [random, executor, log, link, phone, driver] = run;
    auto pick = [&run](std::uint64_t n) { return run.pick(n); };
    auto& app = phone.app;
    app->setWorkoutStatus("IN_PROGRESS");

    testsupport::SnapshotStore defaults;
    testsupport::SnapshotStore platformStore;
    platform::MemoryFileSystem files;
    auto watch = std::make_unique<Watch>(executor, link, defaults, platformStore, files, log);

    auto steps = 40 + pick(80);
    driver.allow(steps + quietSeconds);
    for (std::uint64_t step = 0; step < steps; ++step) {
        const auto& exercises = watch->core.data().exercises.get();
        auto roll = pick(100);
        if (!exercises.empty() && roll < 75) {
            const auto& exercise = exercises[pick(exercises.size())];
            auto sets = static_cast<std::int64_t>(exercise->exerciseSets->size());
            Dictionary action{{"exerciseId", exercise->id}};
            if (sets > 0) {
                action.insert_or_assign(
                    "setIndex", static_cast<std::int64_t>(pick(static_cast<std::uint64_t>(sets))));
            }
            if (roll < 40) {
                action.insert_or_assign("action", "actionButton");
            } else if (roll < 50) {
                action.insert_or_assign("action", "keypad");
                action.insert_or_assign("field", pick(2) == 0 ? "weight" : "reps");
                Array keys;
                for (auto n = 1 + pick(3); n > 0; --n) {
                    keys.push_back(std::to_string(pick(10)));
                }
                action.insert_or_assign("keys", std::move(keys));
            } else if (roll < 57) {
                action.insert_or_assign("action", "addSet");
            } else if (roll < 62) {
                action.insert_or_assign("action", "deleteSet");
            } else if (roll < 67) {
                action.insert_or_assign("action", "changeSetType");
                action.insert_or_assign("type", pick(2) == 0 ? "warmup" : "drop");
            } else if (roll < 71) {
                action.insert_or_assign("action", "setDuration");
                action.insert_or_assign("seconds", static_cast<std::int64_t>(5 * pick(20)));
            } else {
                action.insert_or_assign("action", "plateCalculator");
            }
            watch->act(action);
        } else if (roll < 78) {
            watch->act({{"action", "dismissTimer"}});
        } else if (roll < 82) {
            log.line("sim: watch restarts");
            watch.reset();
            watch = std::make_unique<Watch>(executor, link, defaults, platformStore, files, log);
        } else if (roll < 87) {
            link.connected() ? link.cut() : link.restore();
        } else if (roll < 90) {
            app->setReachable(pick(2) == 0);
        } else {
            driver.advanceBy(std::chrono::seconds(pick(90)));
        }
        for (auto tasks = pick(60); tasks > 0 && driver.runNext(); --tasks) {
        }
    }

    run.heal();
    // Long enough for every rest and countdown to run out and every message to be answered.
    for (int second = 0; second < quietSeconds; ++second) {
        driver.advanceBy(1s);
    }

    std::ostringstream problems;
    if (auto left = watch->core.outbox().pendingMessages(); !left.empty()) {
        problems << left.size() << " messages still pending on the watch; ";
    }
    auto watchRecord = record(watch->core.data().exercises.get());
    auto phoneSide = phoneRecord(app->feed().exercises());
    if (watchRecord != phoneSide) {
        problems << "the records differ:\n  watch " << platform::toJsonText(Value(watchRecord))
                 << "\n  phone " << platform::toJsonText(Value(phoneSide)) << "; ";
    }
    return simsupport::verdict(problems, log);
}

} // namespace

TEST(LoggingSimulation, ThePhonesRecordEqualsTheWatchsOnceQuiet) {
    simsupport::runSeeds(100, "LoggingSimulation.*", runSeed);
}
