#include "session/workout_manager.hpp"

#include "platform/exec/manual_executor.hpp"
#include "platform/health/simulated_health_store.hpp"
#include "platform/health/statistics_archive.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "support/fake_session.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;
using platform::Date;
using platform::HealthType;
using session::WorkoutManager;
using State = platform::WorkoutSessionState;

class WorkoutManagerTest : public ::testing::Test {
protected:
    WorkoutManagerTest() {
        store.requestAuthorization(manager.typesToShare(), manager.typesToRead(),
                                   [](bool, auto) {});
        executor.runUntilIdle();
    }

    Date now() const { return platform::toDate(executor.now()); }

    // Starts a session and lets it report running.
    void start(std::optional<std::string> identifier = "w-1") {
        manager.startWorkout({}, std::move(identifier),
                             [this](auto error) { startError = std::move(error); });
        executor.runUntilIdle();
    }

    void claimAndStart(const std::string& identifier = "w-1") {
        manager.claimWorkout(identifier, now());
        start(identifier);
    }

    platform::ManualExecutor executor;
    testsupport::FakeSession link{executor.main()}; // the phone, for mirrored data
    platform::SimulatedHealthStore store{executor, {{}, true, 3, 5s, &link}};
    platform::MemoryKeyValueStore defaults;
    platform::MemoryLog log;
    WorkoutManager manager{executor, defaults, store, log};
    std::optional<platform::HealthError> startError;
};

TEST_F(WorkoutManagerTest, StartsARunningMirroredSessionTaggedWithTheWorkout) {
    start("w-1");
    EXPECT_FALSE(startError);
    EXPECT_EQ(manager.sessionState.get(), State::running);
    auto metadata = manager.workoutBuilder()->metadata();
    EXPECT_EQ(metadata.at(std::string(platform::metadataKeySyncIdentifier)),
              platform::Value("w-1"));
    auto first = manager.workoutSession();
    startError = platform::HealthError{};
    start("w-2");
    EXPECT_FALSE(startError); // success, nothing done
    EXPECT_EQ(manager.workoutSession(), first);
    EXPECT_EQ(manager.workoutIdentifier(), "w-1");
}

TEST_F(WorkoutManagerTest, StartFailuresReachTheCallerAndClearTheIdentity) {
    for (auto failures : {platform::SimulatedHealthFailures{.sessionCreation = true},
                          platform::SimulatedHealthFailures{.beginCollection = true}}) {
        store.setFailures(failures);
        start("w-1");
        EXPECT_TRUE(startError);
        EXPECT_FALSE(manager.workoutSession());
        EXPECT_FALSE(manager.workoutIdentifier());
        EXPECT_EQ(store.currentSession(), nullptr); // ended
    }
}

TEST_F(WorkoutManagerTest, OwnershipAllowsFiveSecondsAndNoMore) {
    double claimed = 1767603600123.0;
    manager.claimWorkout("w-1", Date::fromUnixMillis(claimed));
    EXPECT_TRUE(manager.terminateWorkout("w-1", Date::fromUnixMillis(claimed - 5000), true));
    EXPECT_FALSE(manager.terminateWorkout("w-1", Date::fromUnixMillis(claimed - 5001), true));
    EXPECT_FALSE(manager.terminateWorkout("w-2", Date::fromUnixMillis(claimed), true));

    // An earlier claim of the same workout keeps the later time.
    manager.claimWorkout("w-1", Date::fromUnixMillis(claimed - 60'000));
    EXPECT_EQ(manager.workoutOwnershipStartedAt(), Date::fromUnixMillis(claimed));

    manager.claimWorkout("w-3", std::nullopt); // held, but no ownership time
    EXPECT_FALSE(manager.terminateWorkout("w-3", now(), true));
}

TEST_F(WorkoutManagerTest, ClaimsAreIgnoredWithSyncOffOrWhileAnotherWorkoutRuns) {
    manager.setSyncWorkoutsToHealth(false);
    EXPECT_EQ(defaults.boolForKey("tessaron.sync-workouts-to-health"), false);
    manager.claimWorkout("w-1", now());
    EXPECT_FALSE(manager.workoutIdentifier());

    manager.setSyncWorkoutsToHealth(true);
    claimAndStart("w-1");
    manager.claimWorkout("w-2", now());
    manager.claimWorkout(std::string(session::placeholderWorkoutIdentifier), now());
    EXPECT_EQ(manager.workoutIdentifier(), "w-1");
}

TEST_F(WorkoutManagerTest, SavesToHealthOnRequestEvenWithThePreferenceOff) {
    claimAndStart("w-1");
    manager.setSyncWorkoutsToHealth(false);
    executor.advanceBy(60s);
    auto stopAt = now();
    executor.advanceBy(3s);
    EXPECT_TRUE(manager.terminateWorkout("w-1", stopAt, true));
    executor.runUntilIdle();
    auto saved = store.savedWorkouts();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].endDate, stopAt);
    EXPECT_EQ(saved[0].metadata.at(std::string(platform::metadataKeySyncIdentifier)),
              platform::Value("w-1"));
    // The ended report resets everything.
    EXPECT_FALSE(manager.workoutSession());
    EXPECT_FALSE(manager.workoutIdentifier());
}

TEST_F(WorkoutManagerTest, EarlyTerminationWaitsForRunningAndTheNewestOneWins) {
    manager.claimWorkout("w-1", now());
    EXPECT_TRUE(manager.terminateWorkout("w-1", now(), true));
    EXPECT_TRUE(manager.terminateWorkout("w-1", now(), false));
    EXPECT_EQ(manager.pendingWorkoutTermination(),
              (session::PendingWorkoutTermination{"w-1", now(), false}));
    start("w-1");
    EXPECT_FALSE(manager.pendingWorkoutTermination());
    EXPECT_FALSE(manager.workoutSession()); // discarded and ended
    EXPECT_TRUE(store.savedWorkouts().empty());

    // A session created but not yet running takes the request once it runs.
    manager.claimWorkout("w-2", now());
    manager.startWorkout({}, "w-2", [](auto) {});
    ASSERT_EQ(manager.workoutSession()->state(), State::notStarted);
    EXPECT_TRUE(manager.terminateWorkout("w-2", now(), true));
    executor.runUntilIdle();
    EXPECT_EQ(store.savedWorkouts().size(), 1u);
}

TEST_F(WorkoutManagerTest, DiscardsOnRequestOrWhenUnclaimedEvenWithThePreferenceOn) {
    claimAndStart("w-1");
    manager.pauseSession("w-1", now());
    executor.runUntilIdle();
    ASSERT_EQ(manager.sessionState.get(), State::paused);
    EXPECT_TRUE(manager.terminateWorkout("w-1", now(), false));
    executor.runUntilIdle();
    EXPECT_FALSE(manager.workoutSession());

    start(std::string(session::placeholderWorkoutIdentifier));
    EXPECT_FALSE(manager.workoutIdentifier());
    manager.workoutSession()->stopActivity(now());
    executor.runUntilIdle();
    EXPECT_FALSE(manager.workoutSession());
    EXPECT_TRUE(store.savedWorkouts().empty());
}

TEST_F(WorkoutManagerTest, FailuresWhileSavingEndTheSessionAndSaveNothing) {
    for (auto failures : {platform::SimulatedHealthFailures{.endCollection = true},
                          platform::SimulatedHealthFailures{.finishWorkout = true}}) {
        store.setFailures({});
        claimAndStart("w-1");
        store.setFailures(failures);
        manager.terminateWorkout("w-1", now(), true);
        executor.runUntilIdle();
        EXPECT_FALSE(manager.workoutSession());
    }

    EXPECT_TRUE(store.savedWorkouts().empty());
}

TEST_F(WorkoutManagerTest, CollectedAndRemoteStatisticsAreShownAndMirrored) {
    claimAndStart("w-1");
    executor.advanceBy(30s);
    ASSERT_FALSE(link.workoutData.empty());
    auto last = platform::decodeStatisticsArchive(link.workoutData.back()).value();
    EXPECT_EQ(last.at(0).mostRecentQuantity->value, manager.lastHeartRate.get());

    platform::Statistics heart{HealthType::heartRate, now(), now(),
                               platform::Quantity{2, platform::HealthUnit::countPerSecond},
                               std::nullopt};
    platform::Statistics energy{HealthType::activeEnergyBurned, now(), now(), std::nullopt,
                                platform::Quantity{41.84, platform::HealthUnit::kilojoule}};
    store.receiveRemoteWorkoutData(*platform::encodeStatisticsArchive({heart, energy}));
    executor.runUntilIdle();
    EXPECT_DOUBLE_EQ(manager.lastHeartRate.get(), 120);
    EXPECT_DOUBLE_EQ(manager.totalEnergyBurned.get(), 10);
}

} // namespace
