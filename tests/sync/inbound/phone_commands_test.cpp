// Phone commands through the hub with the real workout session manager and rest timer: each id
// applied once, the command order with its exemptions, stale revisions, foreign timer
// corrections, the save-to-health preference and the health session commands.
#include "platform/health/health_types.hpp"
#include "platform/health/simulated_health_store.hpp"
#include "session/workout_manager.hpp"
#include "sync/inbound/hub_managers_fixture.hpp"
#include "timer/rest_timer_manager.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

using namespace std::chrono_literals;
using platform::Dictionary;
using platform::Value;
using watchsync::WatchDataSource;
using State = platform::WorkoutSessionState;

Dictionary ack(const std::string& commandId) {
    return {{"status", Value("Success")}, {"commandAck", Value(commandId)}};
}

// A command that only sets the health preference, so that whether it was applied shows.
Dictionary preferenceCommand(const std::string& id, bool sync) {
    return {{"commandId", Value(id)}, {"syncWorkoutsToHealth", Value(sync)}};
}

class PhoneCommands : public hubtest::HubWithManagers {
protected:
    void SetUp() override {
        startWithManagers();
        health.requestAuthorization(workoutManager->typesToShare(), workoutManager->typesToRead(),
                                    [](bool, auto) {});
        executor.runUntilIdle();
    }

    platform::Date now() const { return platform::toDate(executor.now()); }
    bool syncing() const { return workoutManager->syncWorkoutsToHealth.get(); }

    // Whether a command that sets the preference to false was applied.
    bool appliedAsPreferenceOff(Dictionary command) {
        workoutManager->setSyncWorkoutsToHealth(true);
        command.insert_or_assign("syncWorkoutsToHealth", Value(false));
        auto id = *command.find("commandId")->second.string();
        EXPECT_EQ(dispatch(std::move(command)), ack(id));
        return !syncing();
    }

    std::vector<std::string> processed() const {
        return defaults.stringListForKey(WatchDataSource::processedPhoneCommandsKey)
            .value_or(std::vector<std::string>{});
    }

    // The phone's running workout, claimed from now, with a running health session.
    void runWorkout(const std::string& id) {
        Dictionary header{{"id", Value(id)}, {"name", Value("Day A")}};
        header.insert_or_assign("status", Value("IN_PROGRESS"));
        header.insert_or_assign("dateStarted", Value(now().unixMillis()));
        dispatch({{"workout", Value(header)}, {"exercises", Value(platform::Array{})}});
        workoutManager->startWorkout({}, id, [](auto) {});
        executor.runUntilIdle();
        ASSERT_EQ(workoutManager->sessionState.get(), State::running);
    }

    static Dictionary section(const std::string& workoutId, std::string_view dateKey,
                              platform::Date at) {
        return {{"workoutId", Value(workoutId)}, {std::string(dateKey), Value(at.unixMillis())}};
    }

    Dictionary sessionCommand(const std::string& id, std::string_view key, Dictionary fields) {
        return {{"commandId", Value(id)}, {std::string(key), Value(std::move(fields))}};
    }
};

TEST_F(PhoneCommands, TheSameIdIsAppliedOnceAndAcknowledgedEachTime) {
    EXPECT_TRUE(appliedAsPreferenceOff(preferenceCommand("c1", false)));
    EXPECT_FALSE(appliedAsPreferenceOff(preferenceCommand("c1", false)));
    EXPECT_EQ(processed(), std::vector<std::string>{"c1"});
}

TEST_F(PhoneCommands, CommandOrderRefusesOlderCommandsExceptSessionAndTimerCommands) {
    auto sequenced = [](const std::string& id, double sequence) {
        return Dictionary{{"commandId", Value(id)}, {"commandSequence", Value(sequence)}};
    };
    ASSERT_TRUE(appliedAsPreferenceOff(sequenced("c12", 12)));
    EXPECT_EQ(data->lastPhoneCommandSequence, 12);

    EXPECT_FALSE(appliedAsPreferenceOff(sequenced("again12", 12)));
    EXPECT_EQ(processed().back(), "again12");
    EXPECT_TRUE(appliedAsPreferenceOff(sequenced("c13", 13)));
    EXPECT_EQ(defaults.doubleForKey(WatchDataSource::lastPhoneCommandSequenceKey), 13);

    // A session command is exempt, and leaves the order where it was.
    auto stop = sequenced("stop5", 5);
    stop.insert_or_assign("stop_workout_session", Value(section("w1", "occurredAt", now())));
    EXPECT_TRUE(appliedAsPreferenceOff(stop));
    // So is a timer correction for the current run.
    restTimer->timerId = "T-1";
    restTimer->timerRevision = 2;
    auto correction = sequenced("timer6", 6);
    correction.insert_or_assign("timerCorrectionForId", Value("T-1"));
    correction.insert_or_assign("timerCorrectionForRevision", Value(2));
    EXPECT_TRUE(appliedAsPreferenceOff(correction));
    // Pausing and resuming are not.
    auto pause = sequenced("pause7", 7);
    pause.insert_or_assign("pause_workout_session_v2", Value(section("w1", "occurredAt", now())));
    EXPECT_FALSE(appliedAsPreferenceOff(pause));
    // Without a usable sequence the order does not apply.
    EXPECT_TRUE(appliedAsPreferenceOff(preferenceCommand("unsequenced", false)));
    auto unreadable = sequenced("unreadable", 0);
    unreadable.insert_or_assign("commandSequence", Value("soon"));
    EXPECT_TRUE(appliedAsPreferenceOff(unreadable));

    EXPECT_EQ(data->lastPhoneCommandSequence, 13);
    // The stored order survives a restart.
    SetUp();
    EXPECT_EQ(data->lastPhoneCommandSequence, 13);
}

TEST_F(PhoneCommands, TheProcessedListKeepsTheNewest500Ids) {
    for (int i = 0; i <= 500; ++i) {
        data->dispatchInbound(preferenceCommand("c" + std::to_string(i), true), std::nullopt);
    }
    auto ids = processed();
    ASSERT_EQ(ids.size(), 500u);
    EXPECT_EQ(ids.front(), "c1");
    EXPECT_EQ(ids.back(), "c500");
    EXPECT_FALSE(appliedAsPreferenceOff(preferenceCommand("c1", false)));
    // The dropped id is handled again, and becomes the newest.
    EXPECT_TRUE(appliedAsPreferenceOff(preferenceCommand("c0", false)));
    ids = processed();
    EXPECT_EQ(ids.size(), 500u);
    EXPECT_EQ(ids.front(), "c2");
    EXPECT_EQ(ids.back(), "c0");
}

// What a hostile or broken phone sends must neither jam the command order for good nor make the
// stored state grow with it.
TEST_F(PhoneCommands, HostileSequencesAndIdsNeitherJamNorGrowTheCommandState) {
    Dictionary infinite = preferenceCommand("inf", false);
    infinite.insert_or_assign("commandSequence", Value(INFINITY));
    EXPECT_TRUE(appliedAsPreferenceOff(infinite)) << "applied as unsequenced";
    EXPECT_EQ(defaults.doubleForKey(WatchDataSource::lastPhoneCommandSequenceKey), std::nullopt);
    Dictionary first = preferenceCommand("first", false);
    first.insert_or_assign("commandSequence", Value(1));
    EXPECT_TRUE(appliedAsPreferenceOff(first));

    // An older build may have stored an infinite sequence; it must not refuse every command.
    defaults.setDouble(WatchDataSource::lastPhoneCommandSequenceKey, INFINITY);
    startWithManagers();
    EXPECT_EQ(data->lastPhoneCommandSequence, 0);
    Dictionary second = preferenceCommand("second", false);
    second.insert_or_assign("commandSequence", Value(2));
    EXPECT_TRUE(appliedAsPreferenceOff(second));

    // An id longer than 256 bytes is applied each time it comes, but never stored.
    const std::string longest(256, 'k');
    const std::string tooLong(257, 'k');
    EXPECT_TRUE(appliedAsPreferenceOff(preferenceCommand(longest, false)));
    EXPECT_TRUE(appliedAsPreferenceOff(preferenceCommand(tooLong, false)));
    EXPECT_TRUE(appliedAsPreferenceOff(preferenceCommand(tooLong, false)));
    const auto ids = processed();
    EXPECT_EQ(ids.back(), longest);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), tooLong), 0);
}

TEST_F(PhoneCommands, CommandsAgainstAnOlderRevisionAreRefusedAndNewerOnesRaiseIt) {
    dispatch({{"syncRevision", Value(9)}, {"exercises", Value(platform::Array{})}});
    auto revised = [](const std::string& id, double revision) {
        return Dictionary{{"commandId", Value(id)}, {"syncRevision", Value(revision)}};
    };
    EXPECT_FALSE(appliedAsPreferenceOff(revised("r7", 7)));
    EXPECT_EQ(processed().back(), "r7");
    EXPECT_TRUE(appliedAsPreferenceOff(revised("r9", 9)));
    EXPECT_TRUE(appliedAsPreferenceOff(revised("r11", 11)));
    EXPECT_EQ(data->lastSnapshotRevision, 11);
    EXPECT_EQ(data->lastDeltaRevision, 11);
    Dictionary delta{{"syncRevision", Value(10)}, {"syncSnapshotKind", Value("delta")}};
    EXPECT_EQ(dispatch(delta),
              (Dictionary{{"status", Value("Success")}, {"syncRevision", Value(10.0)}}));
}

TEST_F(PhoneCommands, CorrectionsForAnotherTimerRunAreRefused) {
    restTimer->timerId = "T-1";
    restTimer->timerRevision = 2;
    auto correction = [](const std::string& id, const std::string& timerId, double revision) {
        return Dictionary{{"commandId", Value(id)},
                          {"timerCorrectionForId", Value(timerId)},
                          {"timerCorrectionForRevision", Value(revision)}};
    };
    EXPECT_FALSE(appliedAsPreferenceOff(correction("other", "T-2", 2)));
    EXPECT_EQ(processed().back(), "other");
    EXPECT_FALSE(appliedAsPreferenceOff(correction("older", "T-1", 1)));
    EXPECT_TRUE(appliedAsPreferenceOff(correction("current", "T-1", 2.7))); // read as an integer

    // A start time within 10 ms of the run's matches; a later one does not.
    restTimer->startTime = platform::Date::fromUnixMillis(1767603600000);
    Dictionary byStart{{"commandId", Value("near")},
                       {"timerCorrectionForStartTime", Value(1767603600010.0)}};
    EXPECT_TRUE(appliedAsPreferenceOff(byStart));
    byStart.insert_or_assign("commandId", Value("far"));
    byStart.insert_or_assign("timerCorrectionForStartTime", Value(1767603600011.0));
    EXPECT_FALSE(appliedAsPreferenceOff(byStart));

    // The same gate keeps an ordinary message with a foreign correction out entirely.
    workoutManager->setSyncWorkoutsToHealth(true);
    dispatch({{"timerCorrectionForId", Value("T-2")}, {"syncWorkoutsToHealth", Value(false)}});
    EXPECT_TRUE(syncing());
}

TEST_F(PhoneCommands, HealthPreferenceIsStoredFromCommandsAndStateAlike) {
    dispatch(preferenceCommand("off", false));
    EXPECT_FALSE(syncing());
    EXPECT_EQ(defaults.boolForKey(session::syncWorkoutsToHealthKey), false);
    dispatch({{"syncWorkoutsToHealth", Value(true)}});
    EXPECT_TRUE(syncing());
    EXPECT_EQ(defaults.boolForKey(session::syncWorkoutsToHealthKey), true);
    dispatch({{"syncWorkoutsToHealth", Value("false")}});
    EXPECT_TRUE(syncing());
}

TEST_F(PhoneCommands, StartClaimsTheWorkoutFromTheCommandsTime) {
    auto at = platform::Date::fromUnixMillis(1767603600000);
    dispatch(sessionCommand("s1", "start_workout_session", section("w1", "occurredAt", at)));
    EXPECT_EQ(workoutManager->workoutIdentifier(), "w1");
    EXPECT_EQ(workoutManager->workoutOwnershipStartedAt(), at);
    // Without its date the section is skipped.
    dispatch(sessionCommand("s2", "start_workout_session", {{"workoutId", Value("w2")}}));
    EXPECT_EQ(workoutManager->workoutIdentifier(), "w1");
}

TEST_F(PhoneCommands, FinishSavesTheOwnedSessionAndResetsTheLocalWorkout) {
    runWorkout("w1");
    executor.advanceBy(60s);
    auto fields = section("w1", "endedAt", now());
    dispatch(sessionCommand("f0", "finish_workout_session", fields)); // no saveToHealth
    EXPECT_EQ(workoutManager->sessionState.get(), State::running);
    EXPECT_EQ(data->workoutId.get(), "w1");

    fields.insert_or_assign("saveToHealth", Value(true));
    dispatch(sessionCommand("f1", "finish_workout_session", fields));
    EXPECT_EQ(data->workoutId.get(), "");
    EXPECT_EQ(data->workoutStatus.get(), "NOT_STARTED");
    EXPECT_EQ(restTimer->workoutId, std::nullopt);
    executor.runUntilIdle();
    EXPECT_EQ(health.savedWorkouts().size(), 1u);
}

TEST_F(PhoneCommands, TerminationsFailingTheOwnershipCheckDoNothing) {
    runWorkout("w1");
    auto claimed = now();
    auto earlier = [&](double millis) {
        return platform::Date::fromUnixMillis(claimed.unixMillis() - millis);
    };
    dispatch(sessionCommand("early", "cancel_workout_session",
                            section("w1", "occurredAt", earlier(5001))));
    dispatch(
        sessionCommand("other", "cancel_workout_session", section("w2", "occurredAt", claimed)));
    executor.runUntilIdle();
    EXPECT_EQ(workoutManager->sessionState.get(), State::running);
    EXPECT_EQ(data->workoutId.get(), "w1");

    // Five seconds early is still within the allowance; cancelling discards.
    dispatch(sessionCommand("cancel", "cancel_workout_session",
                            section("w1", "occurredAt", earlier(5000))));
    EXPECT_EQ(data->workoutStatus.get(), "NOT_STARTED");
    executor.runUntilIdle();
    EXPECT_FALSE(workoutManager->workoutSession());
    EXPECT_TRUE(health.savedWorkouts().empty());
}

TEST_F(PhoneCommands, StopFollowsThePreferenceAndFallsBackToTheEndDate) {
    runWorkout("w1");
    workoutManager->setSyncWorkoutsToHealth(false);
    dispatch(sessionCommand("stop", "stop_workout_session", section("w1", "endedAt", now())));
    EXPECT_EQ(data->workoutStatus.get(), "NOT_STARTED");
    executor.runUntilIdle();
    EXPECT_FALSE(workoutManager->workoutSession());
    EXPECT_TRUE(health.savedWorkouts().empty());
}

TEST_F(PhoneCommands, PauseAndResumePreferTheNewerKeys) {
    runWorkout("w1");
    Dictionary both{{"commandId", Value("p1")},
                    {"pause_workout_session_v2", Value(section("w2", "occurredAt", now()))},
                    {"pause_workout_session", Value(section("w1", "occurredAt", now()))}};
    dispatch(both);
    executor.runUntilIdle();
    EXPECT_EQ(workoutManager->sessionState.get(), State::running);

    dispatch(sessionCommand("p2", "pause_workout_session", section("w1", "occurredAt", now())));
    executor.runUntilIdle();
    EXPECT_EQ(workoutManager->sessionState.get(), State::paused);
    dispatch(sessionCommand("r1", "resume_workout_session_v2", section("w1", "occurredAt", now())));
    executor.runUntilIdle();
    EXPECT_EQ(workoutManager->sessionState.get(), State::running);
}

// Without the managers, commands are still acknowledged and recorded.
using PhoneCommandsAlone = hubtest::Hub;
TEST_F(PhoneCommandsAlone, AreAcknowledgedAndTheirPreferenceStored) {
    Dictionary command{{"commandId", Value("c1")},
                       {"syncWorkoutsToHealth", Value(false)},
                       {"cancel_workout_session", Value(Dictionary{{"workoutId", Value("w1")}})}};
    EXPECT_EQ(dispatch(command), ack("c1"));
    EXPECT_EQ(defaults.boolForKey(session::syncWorkoutsToHealthKey), false);
    EXPECT_EQ(defaults.stringListForKey(WatchDataSource::processedPhoneCommandsKey),
              std::vector<std::string>{"c1"});
}

} // namespace
