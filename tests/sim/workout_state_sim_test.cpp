// The phone changes its workout at random (exercises changed, added, removed, reordered; whole
// snapshots, as messages and as files) while the simulated link loses, repeats, delays and
// reorders frames, drops the connection, and the watch restarts. Checked:
// - while it runs, no watch ever accepts a revision older than one it accepted before;
// - once quiet, the watch holds exactly the phone's workout at the newest revision it accepted,
//   and that is the phone's newest revision.
//
// WRISTSIDE_SIM_SEEDS (default 300) seeds from WRISTSIDE_SIM_FIRST_SEED (default 1) run;
// WRISTSIDE_SIM_SEED=N replays one seed, WRISTSIDE_SIM_VERBOSE=1 prints its log.
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

std::uint64_t envNumber(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

struct WatchCore {
    platform::SessionEngine session;
    watchsync::WatchSyncOutbox outbox;
    watchsync::WatchDataSource data;

    WatchCore(platform::ManualExecutor& executor, platform::SimulatedLink& link,
              platform::KeyValueStore& defaults, platform::KeyValueStore& platformStore,
              platform::FileSystem& files, platform::Log& log)
        : session(LinkRole::watch, link.attach(LinkRole::watch),
                  {executor, platformStore, files, log}),
          outbox(executor, session, defaults, log),
          data(watchsync::WatchDataSource::Services{executor, defaults, files, &session, outbox,
                                                    log}) {}

    std::optional<double> acceptedRevision() const {
        auto snapshot = data.lastSnapshotRevision;
        auto delta = data.lastDeltaRevision;
        if (snapshot && delta) {
            return std::max(*snapshot, *delta);
        }
        return snapshot ? snapshot : delta;
    }

    Array exercises() const {
        Array state;
        for (const auto& exercise : data.exercises.get()) {
            state.push_back(app::exerciseState(*exercise));
        }
        return state;
    }
};

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

platform::LinkFaults randomFaults(std::mt19937_64& random) {
    std::uniform_real_distribution<double> chance(0, 0.3);
    platform::LinkFaults faults;
    faults.transferLoss = chance(random);
    faults.transferDuplicate = chance(random);
    faults.transferDelay = {0ms, std::chrono::milliseconds(random() % 3000)};
    faults.messageLoss = chance(random);
    faults.replyLoss = chance(random);
    faults.liveDelay = {0ms, std::chrono::milliseconds(random() % 3000)};
    faults.disconnect = chance(random) / 10;
    faults.reconnectDelay = {100ms, std::chrono::milliseconds(100 + random() % 5000)};
    return faults;
}

std::vector<std::string> exerciseIds(const phone::PhoneApp& app) {
    std::vector<std::string> ids;
    for (const auto& exercise : app.feed().exercises()) {
        ids.push_back(*exercise.find("id")->string());
    }
    return ids;
}

std::optional<std::string> runSeed(std::uint64_t seed, const std::filesystem::path& scratch) {
    std::mt19937_64 random(seed);
    auto pick = [&](std::uint64_t n) { return random() % n; };

    platform::ManualExecutor executor;
    platform::MemoryLog log;
    platform::SimulatedLink link(executor, randomFaults(random), seed);

    platform::MemoryKeyValueStore phoneStore;
    platform::MemoryFileSystem phoneFiles;
    phone::PhoneLink phoneLink(link.attach(LinkRole::phone),
                               {executor, phoneStore, phoneFiles, log});
    std::string error;
    auto app = phone::PhoneApp::open(
        {executor, phoneLink.session(), log, scratch / std::to_string(seed), &phoneLink},
        *phone::parseTrainingPlan(phone::embeddedDemoPlanText()), &error);
    if (!app) {
        return "phone-sim did not open: " + error;
    }
    app->start();

    platform::MemoryKeyValueStore defaults;
    platform::MemoryKeyValueStore platformStore;
    platform::MemoryFileSystem watchFiles;
    auto watch =
        std::make_unique<WatchCore>(executor, link, defaults, platformStore, watchFiles, log);

    std::ostringstream problems;
    std::optional<double> highest;
    auto check = [&] {
        auto accepted = watch->acceptedRevision();
        if (highest && (!accepted || *accepted < *highest)) {
            problems << "the watch went back from revision " << *highest << " to "
                     << (accepted ? std::to_string(*accepted) : "none") << "; ";
        }
        highest = accepted;
    };

    int nextExercise = 0;
    auto steps = 20 + pick(60);
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
            watch = std::make_unique<WatchCore>(executor, link, defaults, platformStore, watchFiles,
                                                log);
            highest.reset();
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
        for (auto tasks = pick(40); tasks > 0 && executor.runNext(); --tasks) {
            check();
        }
    }

    link.setFaults(platform::LinkFaults{});
    if (link.connected()) {
        link.cut();
    }
    link.restore();
    app->setReachable(true);
    for (int second = 0; second < 120; ++second) {
        executor.advanceBy(1s);
        check();
    }

    auto accepted = watch->acceptedRevision();
    if (!accepted) {
        problems << "the watch accepted no revision at all; ";
    } else {
        auto sent = app->feed().sentAt(*accepted);
        if (!sent) {
            problems << "the phone never sent revision " << *accepted << "; ";
        } else if (auto expected = decoded(*sent), actual = watch->exercises();
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

    auto verbose = envNumber("WRISTSIDE_SIM_VERBOSE", 0);
    if (problems.str().empty() && verbose < 2) {
        return std::nullopt;
    }
    if (verbose != 0) {
        for (const auto& line : log.lines()) {
            problems << "\n    " << line;
        }
    }
    return problems.str();
}

} // namespace

TEST(WorkoutStateSimulation, TheWatchEndsAtThePhonesNewestStateAndNeverGoesBack) {
    std::optional<platform::testing::TempDirectory> scratch;
    if (std::filesystem::is_directory("/dev/shm")) {
        scratch.emplace("/dev/shm");
    } else {
        scratch.emplace();
    }
    auto single = envNumber("WRISTSIDE_SIM_SEED", 0);
    auto first = single != 0 ? single : envNumber("WRISTSIDE_SIM_FIRST_SEED", 1);
    auto count = single != 0 ? 1 : envNumber("WRISTSIDE_SIM_SEEDS", 300);
    std::size_t failures = 0;
    for (auto seed = first; seed < first + count; ++seed) {
        if (auto problem = runSeed(seed, scratch->path())) {
            ADD_FAILURE() << "seed " << seed << ": " << *problem
                          << "\n  replay: WRISTSIDE_SIM_SEED=" << seed << " "
                          << ::testing::internal::GetArgvs().front()
                          << " --gtest_filter=WorkoutStateSimulation.*";
            if (++failures == 5) {
                break;
            }
        }
        std::filesystem::remove_all(scratch->path() / std::to_string(seed));
    }
}
