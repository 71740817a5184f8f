// The phone changes its workout at random (exercises changed, added, removed, reordered; whole
// snapshots, as messages and as files) while the simulated link loses, repeats, delays and
// reorders frames, drops the connection, and the watch restarts. Checked:
// - while it runs, no watch ever accepts a revision older than one it accepted before;
// - once quiet, the watch holds exactly the phone's workout at the newest revision it accepted,
//   and that is the phone's newest revision.
//
// 300 seeds by default; the environment variables of sim_support.hpp choose others.
#include "app/state_json.hpp"
#include "model/decoding.hpp"
#include "phone/phone_app.hpp"
#include "phone/phone_link.hpp"
#include "phone/training_plan.hpp"
#include "platform/exec/manual_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/files/temp_directory.hpp"
#include "platform/link/session_engine.hpp"
#include "platform/link/simulated_link.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "sim/sim_support.hpp"
#include "sync/inbound/watch_data_source.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <sstream>

namespace {

using namespace std::chrono_literals;
using platform::Array;
using platform::Dictionary;
using platform::LinkRole;
using platform::Value;

// What the watch holds of the workout.
std::optional<double> acceptedRevision(const simsupport::WatchCore& watch) {
    auto snapshot = watch.data.lastSnapshotRevision;
    auto delta = watch.data.lastDeltaRevision;
    if (snapshot && delta) {
        return std::max(*snapshot, *delta);
    }
    return snapshot ? snapshot : delta;
}

Array exercisesOf(const simsupport::WatchCore& watch) {
    Array state;
    for (const auto& exercise : watch.data.exercises.get()) {
        state.push_back(app::exerciseState(*exercise));
    }
    return state;
}

// What the watch makes of the phone's exercise list.
Array decoded(const Array& exercises) {
    Array state;
    std::int64_t index = 0;
    for (const auto& exercise : exercises) {
        state.push_back(
            app::exerciseState(*model::decodeExercise(*exercise.dictionary(), index++)));
    }
    return state;
}

// Ids and names, enough to see where two lists part.
std::string outline(const Array& exercises) {
    std::string text = "[";
    for (const auto& exercise : exercises) {
        text += *exercise.find("id")->string() + ":" + *exercise.find("name")->string() + " ";
    }
    return text + "]";
}

std::vector<std::string> exerciseIds(const phone::PhoneApp& app) {
    std::vector<std::string> ids;
    for (const auto& exercise : app.feed().exercises()) {
        ids.push_back(*exercise.find("id")->string());
    }
    return ids;
}

// Virtual seconds of quiet after the script, for the last messages and timers.
constexpr int quietSeconds = 120;

std::optional<std::string> runSeed(std::uint64_t seed,
                                   const std::filesystem::path& phoneDirectory) {
    simsupport::Run run(seed, phoneDirectory);
    if (!run.phone.app) {
        return "phone-sim did not open: " + run.phone.error;
    }
    auto& [random, executor, log, link, phone, driver] = run;
    auto pick = [&run](std::uint64_t n) { return run.pick(n); };
    auto& app = phone.app;

    platform::MemoryKeyValueStore defaults;
    platform::MemoryKeyValueStore platformStore;
    platform::MemoryFileSystem watchFiles;
    auto watch = std::make_unique<simsupport::WatchCore>(executor, link, defaults, platformStore,
                                                         watchFiles, log);

    std::ostringstream problems;
    // The newest revision this watch accepted; below zero while it has accepted none.
    double highest = -1;
    auto check = [&] {
        auto accepted = acceptedRevision(*watch);
        if (highest >= 0 && (!accepted || *accepted < highest)) {
            problems << "the watch went back from revision " << highest << " to "
                     << (accepted ? std::to_string(*accepted) : "none") << "; ";
        }
        highest = accepted.value_or(-1);
    };

    int nextExercise = 0;
    auto steps = 20 + pick(60);
    driver.allow(steps + quietSeconds);
    for (std::uint64_t step = 0; step < steps && problems.str().empty(); ++step) {
        auto ids = exerciseIds(*app);
        switch (pick(12)) {
        case 0:
        case 1:
        case 2:
            if (!ids.empty()) {
                app->updateExercise(ids[pick(ids.size())],
                                    {{"name", "Exercise " + std::to_string(pick(1000))},
                                     {"timerSeconds", static_cast<std::int64_t>(pick(240))}});
            }
            break;
        case 3:
            // Without its own sequence an exercise's sequence would depend on its place in the
            // message that carried it.
            app->addExercise({{"id", "sim-" + std::to_string(nextExercise)},
                              {"name", "Added"},
                              {"status", "NOT_STARTED"},
                              {"sequence", 100 + nextExercise}});
            ++nextExercise;
            break;
        case 4:
            if (ids.size() > 1) {
                app->removeExercise(ids[pick(ids.size())]);
            }
            break;
        case 5:
            std::shuffle(ids.begin(), ids.end(), random);
            app->reorderExercises(ids);
            break;
        case 6:
            pick(2) == 0 ? app->sendSnapshot() : app->sendSnapshotFile();
            break;
        case 7:
            log.line("sim: watch restarts");
            watch.reset();
            watch = std::make_unique<simsupport::WatchCore>(executor, link, defaults, platformStore,
                                                            watchFiles, log);
            highest = -1;
            break;
        case 8:
            link.connected() ? link.cut() : link.restore();
            break;
        case 9:
            app->setReachable(pick(2) == 0);
            break;
        default:
            break;
        }
        for (auto tasks = pick(40); tasks > 0 && driver.runNext(); --tasks) {
            check();
        }
    }

    run.heal();
    for (int second = 0; second < quietSeconds; ++second) {
        driver.advanceBy(1s);
        check();
    }

    auto accepted = acceptedRevision(*watch);
    if (!accepted) {
        problems << "the watch accepted no revision at all; ";
    } else {
        auto sent = app->feed().sentAt(*accepted);
        if (!sent) {
            problems << "the phone never sent revision " << *accepted << "; ";
        } else if (auto expected = decoded(*sent), actual = exercisesOf(*watch);
                   expected != actual) {
            problems << "at revision " << *accepted << " the watch holds " << outline(actual)
                     << " but the phone sent " << outline(expected);
            for (std::size_t i = 0; i < std::min(expected.size(), actual.size()); ++i) {
                if (expected[i] != actual[i]) {
                    problems << "; first difference: watch " << platform::describe(actual[i])
                             << " phone " << platform::describe(expected[i]);
                    break;
                }
            }
            problems << "; ";
        }
        if (*accepted != static_cast<double>(app->revision())) {
            problems << "the watch is at revision " << *accepted << ", the phone at "
                     << app->revision() << "; ";
        }
    }

    return simsupport::verdict(problems, log);
}

} // namespace

TEST(WorkoutStateSimulation, TheWatchEndsAtThePhonesNewestStateAndNeverGoesBack) {
    simsupport::runSeeds(300, "WorkoutStateSimulation.*", runSeed);
}
