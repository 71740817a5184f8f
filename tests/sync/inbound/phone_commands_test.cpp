// Phone commands on the watch's core: each id applied once, the command order with its
// exemptions, stale revisions and foreign timer corrections refused, and the health session
// commands under the ownership check.
#include "support/watch_core_fixture.hpp"
#include "support/workout_builders.hpp"

#include <cmath>

namespace {

using namespace std::chrono_literals;
using platform::Dictionary;
using platform::Value;
using watchsync::WatchDataSource;
using State = platform::WorkoutSessionState;

Dictionary command(const std::string& id, Dictionary fields = {}) {
    fields.insert_or_assign("commandId", id);
    return fields;
}

Dictionary section(const std::string& workoutId, std::string_view dateKey, platform::Date at) {
    return {{"workoutId", workoutId}, {std::string(dateKey), at.unixMillis()}};
}

class PhoneCommands : public testsupport::WatchCoreTest {
protected:
    bool syncing() { return workoutManager().syncWorkoutsToHealth.get(); }

    // Whether the command was applied, seen through the health preference it turns off; every
    // command is acknowledged either way.
    bool applied(Dictionary message) {
        workoutManager().setSyncWorkoutsToHealth(true);
        message.insert_or_assign("syncWorkoutsToHealth", false);
        const auto id = *message.at("commandId").string();
        EXPECT_EQ(dispatch(std::move(message)),
                  (Dictionary{{"status", "Success"}, {"commandAck", id}}));
        return !syncing();
    }

    std::vector<std::string> processed() const {
        return defaults.stringListForKey(WatchDataSource::processedPhoneCommandsKey)
            .value_or(std::vector<std::string>{});
    }

    // The phone's running workout, claimed from now, with a running health session.
    void runWorkout(const std::string& id) {
        core->health().requestAuthorization(workoutManager().typesToShare(),
                                            workoutManager().typesToRead(), [](bool, auto) {});
        auto header = testsupport::phoneHeader(id, "IN_PROGRESS");
        header.insert_or_assign("dateStarted", now().unixMillis());
        dispatch({{"workout", header}, {"exercises", platform::Array{}}});
        workoutManager().startWorkout({}, id, [](auto) {});
        executor.runUntilIdle();
        ASSERT_EQ(workoutManager().sessionState.get(), State::running);
    }
};

TEST_F(PhoneCommands, AnIdIsAppliedOnceAndTheNewest500AreRemembered) {
    EXPECT_TRUE(applied(command("c0")));
    EXPECT_FALSE(applied(command("c0")));
    for (int i = 1; i <= 500; ++i) {
        data().dispatchInbound(command("c" + std::to_string(i)), std::nullopt);
    }
    auto ids = processed();
    ASSERT_EQ(ids.size(), 500u);
    EXPECT_EQ(ids.front(), "c1");
    EXPECT_FALSE(applied(command("c1")));
    EXPECT_TRUE(applied(command("c0"))) << "dropped from the window, so applied again";
    EXPECT_EQ(processed().back(), "c0");

    // An id longer than 256 bytes is applied each time it comes, and never stored.
    const std::string longest(256, 'k');
    const std::string tooLong(257, 'k');
    EXPECT_TRUE(applied(command(longest)));
    EXPECT_TRUE(applied(command(tooLong)));
    EXPECT_TRUE(applied(command(tooLong)));
    EXPECT_EQ(processed().back(), longest);
}

TEST_F(PhoneCommands, TheOrderRefusesOlderCommandsExceptSessionAndTimerCommands) {
    auto sequenced = [](const std::string& id, Value sequence, Dictionary fields = {}) {
        fields.insert_or_assign("commandSequence", std::move(sequence));
        return command(id, std::move(fields));
    };
    EXPECT_TRUE(applied(sequenced("inf", INFINITY))) << "applied as unsequenced";
    ASSERT_TRUE(applied(sequenced("c12", 12)));
    EXPECT_FALSE(applied(sequenced("again12", 12)));
    EXPECT_EQ(processed().back(), "again12");
    EXPECT_TRUE(applied(sequenced("c13", 13)));
    EXPECT_TRUE(applied(
        sequenced("stop5", 5, {{"stop_workout_session", section("w1", "occurredAt", now())}})));
    restTimer().timerId = "T-1";
    restTimer().timerRevision = 2;
    EXPECT_TRUE(applied(sequenced(
        "timer6", 6, {{"timerCorrectionForId", "T-1"}, {"timerCorrectionForRevision", 2}})));
    EXPECT_FALSE(applied(sequenced(
        "pause7", 7, {{"pause_workout_session_v2", section("w1", "occurredAt", now())}})));
    EXPECT_TRUE(applied(command("unsequenced")));
    EXPECT_TRUE(applied(sequenced("unreadable", "soon")));
    EXPECT_EQ(data().lastPhoneCommandSequence, 13);

    launch();
    EXPECT_EQ(data().lastPhoneCommandSequence, 13) << "the order survives a restart";
    // An infinite sequence stored by an older build must not refuse every command.
    defaults.setDouble(WatchDataSource::lastPhoneCommandSequenceKey, INFINITY);
    launch();
    EXPECT_TRUE(applied(sequenced("c2", 2)));
}

TEST_F(PhoneCommands, StaleRevisionsAndCorrectionsForAnotherTimerRunAreRefused) {
    dispatch({{"syncRevision", 9}, {"exercises", platform::Array{}}});
    EXPECT_FALSE(applied(command("r7", {{"syncRevision", 7}})));
    EXPECT_TRUE(applied(command("r11", {{"syncRevision", 11}})));
    EXPECT_EQ(data().lastDeltaRevision, 11);

    restTimer().timerId = "T-1";
    restTimer().timerRevision = 2;
    restTimer().startTime = platform::Date::fromUnixMillis(1767603600000);
    auto correction = [](const std::string& id, Value timerId, Value revision) {
        return command(
            id, {{"timerCorrectionForId", timerId}, {"timerCorrectionForRevision", revision}});
    };
    EXPECT_FALSE(applied(correction("other", "T-2", 2)));
    EXPECT_FALSE(applied(correction("older", "T-1", 1)));
    EXPECT_TRUE(applied(correction("current", "T-1", 2.7)));
    EXPECT_TRUE(applied(command("near", {{"timerCorrectionForStartTime", 1767603600010.0}})));
    EXPECT_FALSE(applied(command("far", {{"timerCorrectionForStartTime", 1767603600011.0}})));
    // The same gate keeps an ordinary message with a foreign correction out entirely.
    dispatch({{"timerCorrectionForId", "T-2"}, {"syncWorkoutsToHealth", false}});
    EXPECT_TRUE(syncing());
    dispatch({{"syncWorkoutsToHealth", "false"}});
    EXPECT_TRUE(syncing());
    dispatch({{"syncWorkoutsToHealth", false}});
    EXPECT_EQ(defaults.boolForKey(session::syncWorkoutsToHealthKey), false);
}

TEST_F(PhoneCommands, SessionCommandsClaimEndPauseAndResumeTheOwnedSession) {
    const auto at = platform::Date::fromUnixMillis(1767603600000);
    dispatch(command("s1", {{"start_workout_session", section("w0", "occurredAt", at)}}));
    EXPECT_EQ(workoutManager().workoutOwnershipStartedAt(), at);

    runWorkout("w1");
    const auto claimed = now();
    auto before = [&](double millis) {
        return platform::Date::fromUnixMillis(claimed.unixMillis() - millis);
    };
    dispatch(command("p1", {{"pause_workout_session_v2", section("w2", "occurredAt", now())},
                            {"pause_workout_session", section("w1", "occurredAt", now())}}));
    dispatch(
        command("early", {{"cancel_workout_session", section("w1", "occurredAt", before(5001))}}));
    dispatch(command("f0", {{"finish_workout_session", section("w1", "endedAt", now())}}));
    executor.runUntilIdle();
    EXPECT_EQ(workoutManager().sessionState.get(), State::running) << "none of them applies";
    EXPECT_EQ(data().workoutId.get(), "w1");

    dispatch(command("p2", {{"pause_workout_session", section("w1", "occurredAt", now())}}));
    executor.runUntilIdle();
    EXPECT_EQ(workoutManager().sessionState.get(), State::paused);
    dispatch(command("r1", {{"resume_workout_session_v2", section("w1", "occurredAt", now())}}));
    executor.runUntilIdle();
    EXPECT_EQ(workoutManager().sessionState.get(), State::running);

    executor.advanceBy(60s);
    auto finish = section("w1", "endedAt", now());
    finish.insert_or_assign("saveToHealth", true);
    dispatch(command("f1", {{"finish_workout_session", finish}}));
    EXPECT_EQ(data().workoutStatus.get(), "NOT_STARTED");
    EXPECT_EQ(restTimer().workoutId, std::nullopt);
    executor.runUntilIdle();
    EXPECT_EQ(core->health().savedWorkouts().size(), 1u);
}

TEST_F(PhoneCommands, CancelAndStopWithSyncOffDiscardWithinTheAllowance) {
    for (const char* key : {"cancel_workout_session", "stop_workout_session"}) {
        runWorkout("w1");
        workoutManager().setSyncWorkoutsToHealth(false);
        const auto date = platform::Date::fromUnixMillis(now().unixMillis() - 5000);
        dispatch(command(key, {{key, section("w1", "occurredAt", date)}}));
        EXPECT_EQ(data().workoutStatus.get(), "NOT_STARTED") << key;
        executor.runUntilIdle();
        EXPECT_FALSE(workoutManager().workoutSession()) << key;
        EXPECT_TRUE(core->health().savedWorkouts().empty()) << key;
        workoutManager().setSyncWorkoutsToHealth(true);
    }
}

} // namespace
