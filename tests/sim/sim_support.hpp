#pragma once

// What the seeded simulations share: the watch program's long-lived objects on the simulated
// link, random link faults, the task budget that stops a run going nowhere, the run's verdict
// with its log, and the loop over seeds.
//
// WRISTSIDE_SIM_SEEDS seeds from WRISTSIDE_SIM_FIRST_SEED (default 1) run; WRISTSIDE_SIM_SEED=N
// replays one seed exactly; WRISTSIDE_SIM_VERBOSE=1 adds the log of a failing run, 2 of a
// passing one too.
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

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>

namespace simsupport {

using namespace std::chrono_literals;

inline std::uint64_t envNumber(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

// The watch program's long-lived objects, built the way the program builds them.
struct WatchCore {
    platform::SessionEngine session;
    watchsync::WatchSyncOutbox outbox;
    watchsync::WatchDataSource data;

    WatchCore(platform::ManualExecutor& executor, platform::SimulatedLink& link,
              platform::KeyValueStore& defaults, platform::KeyValueStore& platformStore,
              platform::FileSystem& files, platform::Log& log)
        : session(platform::LinkRole::watch, link.attach(platform::LinkRole::watch),
                  {executor, platformStore, files, log}),
          outbox(executor, session, defaults, log),
          data(watchsync::WatchDataSource::Services{executor, defaults, files, &session, outbox,
                                                    log}) {}
};

// phone-sim with the embedded plan on the phone end of the link, its logbook in `directory`.
struct PhoneSide {
    platform::MemoryKeyValueStore store;
    platform::MemoryFileSystem files;
    phone::PhoneLink link;
    std::unique_ptr<phone::PhoneApp> app;
    std::string error;

    PhoneSide(platform::ManualExecutor& executor, platform::SimulatedLink& simulated,
              platform::Log& log, const std::filesystem::path& directory)
        : link(simulated.attach(platform::LinkRole::phone), {executor, store, files, log}) {
        app =
            phone::PhoneApp::open({executor, link.session(), log, directory, &link},
                                  *phone::parseTrainingPlan(phone::embeddedDemoPlanText()), &error);
        if (app) {
            app->start();
        }
    }
};

inline platform::LinkFaults randomFaults(std::mt19937_64& random) {
    std::uniform_real_distribution<double> chance(0, 0.3);
    platform::LinkFaults faults;
    faults.transferLoss = chance(random);
    faults.transferDuplicate = chance(random);
    faults.transferDelay = {0ms, std::chrono::milliseconds(random() % 3000)};
    faults.messageLoss = chance(random);
    faults.replyLoss = chance(random);
    faults.liveDelay = {0ms, std::chrono::milliseconds(random() % 3000)};
    faults.contextLoss = chance(random);
    faults.disconnect = chance(random) / 10;
    faults.reconnectDelay = {100ms, std::chrono::milliseconds(100 + random() % 5000)};
    return faults;
}

// Thrown between two tasks when a run has used up its task budget, and reported by runSeeds as
// the failure of that seed: a run that stops making progress (tasks that keep posting tasks at
// one instant, a message going back and forth for ever) must fail, not run away.
struct NoProgress {
    std::string what;
};

// The executor driven one task at a time, each task counted against the run's budget. The
// simulations drive time only through it.
class Driver {
public:
    // About ten times the most that passing seeds of the simulations were seen to run: per unit
    // of work (a step of the script or a second of quiet time), and at one instant of virtual
    // time (a burst once the link heals).
    static constexpr std::uint64_t tasksPerUnit = 100;
    static constexpr std::uint64_t tasksPerInstant = 20000;

    Driver(platform::ManualExecutor& executor, const platform::MemoryLog& log)
        : executor_(executor), log_(log) {}

    // The budget for the rest of the run: `units` steps and seconds of quiet time to come.
    void allow(std::uint64_t units) { budget_ = tasks_ + units * tasksPerUnit; }

    bool runNext() {
        if (!executor_.runNext()) {
            return false;
        }
        if (executor_.now() != instant_) {
            instant_ = executor_.now();
            tasksAtInstant_ = 0;
        }
        if (++tasks_ > budget_) {
            stop(std::to_string(tasks_) + " tasks, over the budget for this workload,");
        }
        if (++tasksAtInstant_ > tasksPerInstant) {
            stop(std::to_string(tasksAtInstant_) + " tasks in a row without virtual time moving,");
        }
        return true;
    }

    // ManualExecutor::advanceBy, task by task.
    void advanceBy(platform::Duration duration) {
        const auto until = executor_.now() + duration;
        for (auto due = executor_.nextDueTime(); due && *due <= until;
             due = executor_.nextDueTime()) {
            runNext();
        }
        executor_.advanceTo(until);
    }

private:
    [[noreturn]] void stop(const std::string& what) const {
        std::ostringstream text;
        text << "no progress: " << what << " at "
             << std::chrono::duration_cast<std::chrono::seconds>(
                    executor_.now() - platform::ManualClock::defaultStart())
                    .count()
             << " s of virtual time; the log ends:";
        const auto lines = log_.lines();
        for (auto line = lines.size() > 12 ? lines.end() - 12 : lines.begin(); line != lines.end();
             ++line) {
            text << "\n    " << *line;
        }
        throw NoProgress{text.str()};
    }

    platform::ManualExecutor& executor_;
    const platform::MemoryLog& log_;
    std::uint64_t tasks_ = 0;
    std::uint64_t budget_ = 0;
    platform::TimePoint instant_{};
    std::uint64_t tasksAtInstant_ = 0;
};

// What every seeded run starts from: one random source for all its choices, virtual time, the
// log, the faulty link and phone-sim on it (its logbook in `directory`), and the driver of
// time, whose budget the simulation sets from its workload.
struct Run {
    std::mt19937_64 random;
    platform::ManualExecutor executor;
    platform::MemoryLog log;
    platform::SimulatedLink link;
    PhoneSide phone;
    Driver driver;

    Run(std::uint64_t seed, const std::filesystem::path& directory)
        : random(seed), link(executor, randomFaults(random), seed),
          phone(executor, link, log, directory), driver(executor, log) {}

    std::uint64_t pick(std::uint64_t n) { return random() % n; }

    // The end of the trouble: no more faults, a fresh connection (transfers held back by a lost
    // frame go out again on it) and a reachable phone.
    void heal() {
        link.setFaults(platform::LinkFaults{});
        if (link.connected()) {
            link.cut();
        }
        link.restore();
        phone.app->setReachable(true);
    }
};

// Nothing when the run found no problem (unless the log of every run is asked for).
inline std::optional<std::string> verdict(const std::ostringstream& problems,
                                          const platform::MemoryLog& log) {
    auto verbose = envNumber("WRISTSIDE_SIM_VERBOSE", 0);
    if (problems.str().empty() && verbose < 2) {
        return std::nullopt;
    }
    std::string text = problems.str();
    if (verbose != 0) {
        for (const auto& line : log.lines()) {
            text += "\n    " + line;
        }
    }
    return text;
}

// Runs the seeds the environment asks for (`defaultSeeds` when it does not), each with a
// scratch directory of its own, and reports at most five failing ones with their replay line.
inline void runSeeds(
    std::uint64_t defaultSeeds, const std::string& testFilter,
    const std::function<std::optional<std::string>(std::uint64_t, const std::filesystem::path&)>&
        runSeed) {
    // Memory-backed files when the machine has them: the logbooks sync every record.
    std::optional<platform::testing::TempDirectory> scratch;
    if (std::filesystem::is_directory("/dev/shm")) {
        scratch.emplace("/dev/shm");
    } else {
        scratch.emplace();
    }
    auto single = envNumber("WRISTSIDE_SIM_SEED", 0);
    auto first = single != 0 ? single : envNumber("WRISTSIDE_SIM_FIRST_SEED", 1);
    auto count = single != 0 ? 1 : envNumber("WRISTSIDE_SIM_SEEDS", defaultSeeds);
    std::size_t failures = 0;
    for (auto seed = first; seed < first + count; ++seed) {
        auto directory = scratch->path() / std::to_string(seed);
        std::optional<std::string> problem;
        try {
            problem = runSeed(seed, directory);
        } catch (const NoProgress& stalled) {
            problem = stalled.what;
        }
        if (problem) {
            ADD_FAILURE() << "seed " << seed << ": " << *problem
                          << "\n  replay: WRISTSIDE_SIM_SEED=" << seed << " "
                          << ::testing::internal::GetArgvs().front()
                          << " --gtest_filter=" << testFilter;
            if (++failures == 5) {
                break;
            }
        }
        std::filesystem::remove_all(directory);
    }
}

} // namespace simsupport
