// The hub driving the watch's other managers: the workout session manager claims the phone's
// running workout, the rest timer learns its workout and gets its stored session back, and the
// phone's mirrored health data reaches the session.
#include "platform/health/simulated_health_store.hpp"
#include "platform/health/statistics_archive.hpp"
#include "session/workout_manager.hpp"
#include "sync/inbound/hub_managers_fixture.hpp"
#include "timer/persisted_timer_session.hpp"
#include "timer/rest_timer_manager.hpp"

#include <gtest/gtest.h>

namespace {

using platform::Dictionary;
using platform::Value;

constexpr double dateStartedMillis = 1767603600000; // 2026-01-05 09:00 UTC

Dictionary snapshot(double revision, std::string id, std::string status) {
    Dictionary header{{"id", std::move(id)}, {"name", "Day A"}, {"status", std::move(status)}};
    header.insert_or_assign("dateStarted", dateStartedMillis);
    return {{"syncRevision", revision}, {"workout", header}, {"exercises", platform::Array{}}};
}

class HubManagers : public hubtest::HubWithManagers {
protected:
    std::vector<Dictionary> configurations;
    int notificationRemovals = 0;

    void start() {
        startWithManagers(watchsync::WatchDataSource::Managers{
            nullptr, nullptr,
            [this](const platform::Data& bytes) { health.receiveRemoteWorkoutData(bytes); },
            [this](const Dictionary& configuration) { configurations.push_back(configuration); },
            [this] { ++notificationRemovals; }});
        executor.runUntilIdle();
    }

    void SetUp() override { start(); }

    void storeTimerSession(std::string workoutId) {
        timer::PersistedRestTimerSession stored;
        stored.workoutId = std::move(workoutId);
        stored.startTime = timer::dateFromTimePoint(executor.now());
        stored.timerSeconds = 90;
        stored.timerIsRunning = true;
        stored.timerId = "T-1";
        stored.titleMessage = "Rest";
        defaults.setData(timer::RestTimerManager::timerSessionStorageKey,
                         *timer::encodeTimerSession(stored));
    }
};

TEST_F(HubManagers, ThePhonesRunningWorkoutIsClaimedFromItsStartAndGivenToTheTimer) {
    dispatch(snapshot(1, "w1", "IN_PROGRESS"));
    EXPECT_EQ(workoutManager->workoutIdentifier(), "w1");
    EXPECT_EQ(workoutManager->workoutOwnershipStartedAt(),
              platform::Date::fromUnixMillis(dateStartedMillis));
    EXPECT_EQ(restTimer->workoutId, "w1");

    dispatch(snapshot(2, "w1", "COMPLETE"));
    EXPECT_EQ(restTimer->workoutId, std::nullopt);
}

TEST_F(HubManagers, NoClaimForAWorkoutThatIsNotRunningOrIsThePlaceholder) {
    dispatch(snapshot(1, "w1", "NOT_STARTED"));
    dispatch(snapshot(2, "NOT_STARTED_AND_NULL", "IN_PROGRESS"));
    EXPECT_EQ(workoutManager->workoutIdentifier(), std::nullopt);
}

TEST_F(HubManagers, AStoredTimerComesBackWithTheFirstSnapshotOfItsWorkout) {
    storeTimerSession("w1");
    start();
    EXPECT_FALSE(restTimer->timerIsRunning.get());
    dispatch(snapshot(1, "w1", "IN_PROGRESS"));
    EXPECT_TRUE(restTimer->timerIsRunning.get());
    EXPECT_EQ(restTimer->timerId, "T-1");
    EXPECT_DOUBLE_EQ(restTimer->timerSeconds.get(), 90);
}

TEST_F(HubManagers, AStoredTimerIsDroppedWhenTheFirstPayloadCarriesNoWorkout) {
    storeTimerSession("w1");
    start();
    dispatch(Dictionary{{"exercises", platform::Array{}}});
    EXPECT_FALSE(restTimer->timerIsRunning.get());
    EXPECT_FALSE(defaults.dataForKey(timer::RestTimerManager::timerSessionStorageKey));
    // It does not come back with the workout either.
    dispatch(snapshot(1, "w1", "IN_PROGRESS"));
    EXPECT_FALSE(restTimer->timerIsRunning.get());
}

TEST_F(HubManagers, ATimerEventThePhoneHasNotHadGuardsTheLocalWorkout) {
    dispatch(snapshot(1, "w1", "IN_PROGRESS"));
    restTimer->timerId = "T-9";
    // The phone is away: the event waits in the outbox.
    outbox->enqueue(
        Dictionary{{"type", "rest_timer_started"}, {"payload", Dictionary{{"timerId", "T-9"}}}});
    EXPECT_EQ(dispatch(snapshot(2, "w2", "IN_PROGRESS")), (Dictionary{{"status", Value("Retry")}}));
    EXPECT_EQ(data->workoutId.get(), "w1");
    EXPECT_EQ(dispatch(snapshot(3, "w1", "IN_PROGRESS")), (Dictionary{{"status", "Success"}}));
}

TEST_F(HubManagers, ThePhonesWorkoutStartRequestIsHandedOn) {
    Dictionary configuration{{"activityType", 50}, {"locationType", 2}};
    session.delegate->didReceiveStartWorkout(configuration);
    EXPECT_EQ(configurations, std::vector<Dictionary>{configuration});
}

TEST_F(HubManagers, ClearingTheLocalWorkoutWithdrawsTheNotificationsFirst) {
    dispatch(snapshot(1, "w1", "IN_PROGRESS"));
    data->cancelCurrentWorkout();
    executor.runUntilIdle();
    EXPECT_EQ(notificationRemovals, 1);
    EXPECT_EQ(data->workoutStatus.get(), "NOT_STARTED");
}

TEST_F(HubManagers, ThePhonesMirroredDataReachesTheRunningSession) {
    std::optional<std::optional<platform::HealthError>> started;
    workoutManager->startWorkout(platform::WorkoutConfiguration{}, std::string("w1"),
                                 [&](auto error) { started = error; });
    executor.runUntilIdle();
    ASSERT_TRUE(started);
    ASSERT_FALSE(*started);
    platform::Statistics heartRate{
        platform::HealthType::heartRate, platform::Date{0}, platform::Date{5},
        platform::Quantity{118, platform::HealthUnit::countPerMinute}, std::nullopt};
    session.delegate->didReceiveWorkoutData(*platform::encodeStatisticsArchive({heartRate}));
    executor.runUntilIdle();
    EXPECT_DOUBLE_EQ(workoutManager->lastHeartRate.get(), 118);
}

} // namespace
