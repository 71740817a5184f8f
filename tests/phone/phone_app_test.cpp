#include "phone/app_fixture.hpp"
#include "platform/health/statistics_archive.hpp"
#include "platform/values/json.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;
using phone::testing::AppFixture;
using platform::Array;
using platform::Dictionary;
using platform::Value;

using PhoneApp = AppFixture;

// A refresh request is answered with the workout, the plate inventory and the workouts the watch
// may start, all at the same revision. Nothing is done yet, so the plan offers its first workout
// and the current one.
Dictionary refreshAnswer(const phone::TrainingPlan& plan, std::size_t index, double revision) {
    auto answer = *phone::workoutSnapshot(plan, index, revision);
    answer.insert_or_assign("weight_plates", plan.weightPlates);
    answer.insert_or_assign("weightPlatesRevision", revision);
    Array offered{plan.workouts.front()};
    if (index != 0) {
        offered.push_back(plan.workouts.at(index));
    }
    answer.insert_or_assign("availableWorkouts", offered);
    // The catalogue goes under its own revision, the first one until it changes.
    answer.insert_or_assign("reference_exercises", plan.referenceExercises);
    answer.insert_or_assign("referenceExercisesRevision", 1.0);
    answer.insert_or_assign("availableWorkoutsRevision", revision);
    return answer;
}

TEST_F(PhoneApp, StartsAsTheSessionsDelegateAndActivatesIt) {
    EXPECT_NE(session.delegate, nullptr);
    EXPECT_EQ(session.activations, 1);
    app.reset();
    EXPECT_EQ(session.delegate, nullptr);
}

TEST_F(PhoneApp, AcknowledgesEveryCopyOfAnOutboxMessageButRecordsItOnce) {
    auto first = outboxMessage("complete_set", "S1", {{"setId", "set-0003"}});
    auto second = outboxMessage("start_workout", "S2");
    session.receiveMessage(first);
    session.receiveUserInfo(first);
    executor.advanceBy(2s);
    session.receiveUserInfo(second);
    session.receiveMessage(first);
    executor.runUntilIdle();

    EXPECT_EQ(session.liveBodies(),
              (std::vector<Dictionary>{ack("S1"), ack("S1"), ack("S2"), ack("S1")}));
    auto entries = app->logbookEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].syncId, "S1");
    EXPECT_EQ(entries[0].type, "complete_set");
    EXPECT_EQ(platform::parseJson(entries[0].messageJson), Value(first));
    EXPECT_EQ(entries[0].arrivedAt, platform::ManualClock::defaultStart());
    EXPECT_EQ(entries[1].syncId, "S2");
    EXPECT_EQ(entries[1].arrivedAt, platform::ManualClock::defaultStart() + 2s);
    EXPECT_TRUE(log.contains("received complete_set (syncId S1) by live message — recorded #1"));
    EXPECT_TRUE(log.contains("repeat of syncId S1 (complete_set, by transfer)"));
    EXPECT_TRUE(log.contains("received start_workout (syncId S2) by transfer — recorded #2"));
}

TEST_F(PhoneApp, LeavesMessagesWithoutAStringSyncIdUnrecordedAndUnanswered) {
    session.receiveMessage({{"type", "ping"}});
    session.receiveMessage({{"type", "complete_set"}, {"syncId", 7}});
    executor.runUntilIdle();

    EXPECT_TRUE(session.liveMessages.empty());
    EXPECT_TRUE(session.transfers.empty());
    EXPECT_TRUE(app->logbookEntries().empty());
    EXPECT_EQ(app->arrivals("ping"), 1u);
    EXPECT_TRUE(log.contains("received ping by live message, no syncId"));
}

TEST_F(PhoneApp, AnswersWithTheChosenAckStatusOrNotAtAll) {
    app->setAckStatus("Retry");
    session.receiveMessage(outboxMessage("complete_set", "S1"));
    executor.runUntilIdle();
    app->setAckStatus("Failed: no such set");
    session.receiveMessage(outboxMessage("complete_set", "S1"));
    session.receiveMessage(outboxMessage("complete_set", "S2"));
    executor.runUntilIdle();
    app->setAckStatus(std::nullopt);
    session.receiveMessage(outboxMessage("complete_set", "S3"));
    session.receiveMessage(outboxMessage("complete_set", "S2"));
    executor.runUntilIdle();
    app->setAckStatus("Success");
    session.receiveUserInfo(outboxMessage("complete_set", "S3"));
    executor.runUntilIdle();

    EXPECT_EQ(session.liveBodies(),
              (std::vector<Dictionary>{ack("S1", "Retry"), ack("S1", "Failed: no such set"),
                                       ack("S2", "Failed: no such set"), ack("S3")}));
    // Whatever the answer, each sync id is recorded on its first arrival only.
    EXPECT_EQ(loggedSyncIds(), (std::vector<std::string>{"S1", "S2", "S3"}));
    EXPECT_TRUE(log.contains("left syncId S3 unanswered (ack none)"));
    EXPECT_TRUE(log.contains("repeat of syncId S2 (complete_set, by live message), recorded "
                             "before as #2 — not acknowledged (ack none)"));
}

TEST_F(PhoneApp, AnswersByLiveMessageOnlyWhileBothEndsCanTakeOne) {
    session.receiveMessage(outboxMessage("complete_set", "S1"));
    executor.runUntilIdle();
    ASSERT_EQ(session.liveBodies(), std::vector<Dictionary>{ack("S1")});
    EXPECT_TRUE(session.transfers.empty());

    // The watch went away: the answer must wait in the platform's queue.
    session.reachable = false;
    session.receiveUserInfo(outboxMessage("complete_set", "S2"));
    executor.runUntilIdle();
    EXPECT_EQ(session.transfers, std::vector<Dictionary>{ack("S2")});

    // The phone application itself is in the background.
    session.reachable = true;
    ASSERT_TRUE(app->setReachable(false));
    session.receiveUserInfo(outboxMessage("complete_set", "S3"));
    executor.runUntilIdle();
    EXPECT_EQ(session.transfers, (std::vector<Dictionary>{ack("S2"), ack("S3")}));
    EXPECT_EQ(session.liveMessages.size(), 1u);

    ASSERT_TRUE(app->setReachable(true));
    EXPECT_EQ(session.phoneReachability, (std::vector<bool>{false, true}));

    // The link dropped between the check and the send.
    session.failLiveMessages = true;
    session.receiveMessage(outboxMessage("complete_set", "S4"));
    executor.runUntilIdle();
    EXPECT_EQ(session.liveMessages.back().body, ack("S4"));
    EXPECT_EQ(session.transfers.back(), ack("S4"));
    EXPECT_TRUE(log.contains("failed (not reachable): sent it again as transfer"));
}

TEST_F(PhoneApp, AnswersRefreshRequestsWithASnapshotOfTheCurrentWorkout) {
    session.receiveMessage(outboxMessage("refresh_data", "R1"));
    executor.runUntilIdle();
    ASSERT_EQ(session.liveMessages.size(), 2u);
    // The data goes out before the acknowledgement that ends the request.
    EXPECT_EQ(session.liveMessages[0].body, refreshAnswer(plan, 0, 1));
    EXPECT_EQ(session.liveMessages[1].body, ack("R1"));
    EXPECT_EQ(app->revision(), 1);

    // A repeat is answered too: the first answer may be what got lost.
    session.receiveUserInfo(outboxMessage("refresh_data", "R1"));
    executor.runUntilIdle();
    ASSERT_EQ(session.liveMessages.size(), 4u);
    EXPECT_EQ(session.liveMessages[2].body, refreshAnswer(plan, 0, 2));

    ASSERT_TRUE(app->selectWorkout(2));
    session.reachable = false;
    session.receiveUserInfo(outboxMessage("refresh_data", "R2"));
    executor.runUntilIdle();
    ASSERT_EQ(session.transfers.size(), 2u);
    EXPECT_EQ(session.transfers[0], refreshAnswer(plan, 2, 3));
    EXPECT_EQ(app->revision(), 3);
    EXPECT_TRUE(log.contains("sent snapshot revision 3 of \"" +
                             *plan.workouts[2].find("name")->string() + "\""));

    EXPECT_FALSE(app->selectWorkout(plan.workouts.size()));
    EXPECT_EQ(app->currentWorkout(), 2u);
}

TEST_F(PhoneApp, KeepsItsRevisionAndLogbookAcrossARestart) {
    session.receiveMessage(outboxMessage("refresh_data", "R1"));
    session.receiveMessage(outboxMessage("complete_set", "S1"));
    executor.runUntilIdle();
    ASSERT_TRUE(app->sendSnapshot());
    ASSERT_EQ(app->revision(), 2);

    app.reset();
    session.liveMessages.clear();
    startApp();

    EXPECT_EQ(app->revision(), 2);
    EXPECT_EQ(loggedSyncIds(), (std::vector<std::string>{"R1", "S1"}));
    session.receiveUserInfo(outboxMessage("complete_set", "S1"));
    session.receiveMessage(outboxMessage("refresh_data", "R2"));
    executor.runUntilIdle();
    EXPECT_EQ(session.liveBodies(),
              (std::vector<Dictionary>{ack("S1"), refreshAnswer(plan, 0, 3), ack("R2")}));
    EXPECT_EQ(loggedSyncIds(), (std::vector<std::string>{"R1", "S1", "R2"}));
}

TEST_F(PhoneApp, RepliesSuccessToMessagesThatExpectAReply) {
    session.receiveMessage({{"type", "ping"}}, true);
    session.receiveMessage(outboxMessage("complete_set", "S1"), true);
    executor.runUntilIdle();
    Dictionary success{{"status", "Success"}};
    EXPECT_EQ(session.replies, (std::vector<Dictionary>{success, success}));
    EXPECT_EQ(session.liveBodies(), std::vector<Dictionary>{ack("S1")});
}

TEST_F(PhoneApp, DoesNothingWithCallbacksThatArriveAfterItIsGone) {
    auto delegate = app->sessionDelegate();
    // Heard before the app went, handled on main after.
    delegate->didReceiveMessage(outboxMessage("refresh_data", "R1"), std::nullopt);
    app.reset();
    delegate->didReceiveUserInfo(outboxMessage("complete_set", "S1"));
    executor.runUntilIdle();
    EXPECT_TRUE(session.liveMessages.empty());
    EXPECT_TRUE(session.transfers.empty());
}

TEST_F(PhoneApp, SendsWhatItsCommandsSay) {
    Dictionary body{{"type", "ping"}};
    app->sendMessage(body);
    app->sendRequest(body);
    app->transferUserInfo(body);
    app->updateApplicationContext(body);
    app->transferFile({'h', 'i'}, body);
    app->startWorkout({{"activityType", 50}});
    ASSERT_EQ(session.liveMessages.size(), 2u);
    EXPECT_FALSE(session.liveMessages[0].onReply);
    ASSERT_TRUE(session.liveMessages[1].onReply);
    EXPECT_EQ(session.transfers, std::vector<Dictionary>{body});
    EXPECT_EQ(session.contexts, std::vector<Dictionary>{body});
    ASSERT_EQ(session.files.size(), 1u);
    EXPECT_EQ(session.files[0].first, (platform::Data{'h', 'i'}));
    EXPECT_EQ(session.startedWorkouts, (std::vector<Dictionary>{{{"activityType", 50}}}));

    (*session.liveMessages[1].onReply)({{"answer", 42}});
    executor.runUntilIdle();
    EXPECT_TRUE(log.contains(R"(reply to request #1: {"answer":42})"));

    session.reachable = false;
    app->sendRequest(body);
    app->sendMessage(body);
    EXPECT_EQ(session.liveMessages.size(), 2u);
    EXPECT_TRUE(log.contains("cannot send a request: the watch is not reachable"));
}

TEST_F(PhoneApp, SaysSoWhenTheLinkCannotFailTransfers) {
    ASSERT_TRUE(app->setFailTransfers(true));
    ASSERT_TRUE(app->setFailTransfers(false));
    EXPECT_EQ(session.transferFailures,
              (std::vector<std::optional<std::string>>{
                  std::string(phone::PhoneApp::transferFailureText), std::nullopt}));

    session.controlsWork = false;
    EXPECT_FALSE(app->setFailTransfers(true));
    EXPECT_TRUE(log.contains("cannot change fail-transfers"));
}

TEST(PhoneAppWithoutControls, RefusesTheCommandsThatNeedThem) {
    platform::ManualExecutor executor;
    platform::MemoryLog log;
    platform::testing::TempDirectory dir;
    phone::fakes::FakePhoneSession session{executor};
    auto app = phone::PhoneApp::open({executor, session, log, dir.path()},
                                     *phone::parseTrainingPlan(phone::embeddedDemoPlanText()));
    ASSERT_TRUE(app);
    EXPECT_FALSE(app->setReachable(false));
    EXPECT_FALSE(app->setFailTransfers(true));
    EXPECT_TRUE(session.phoneReachability.empty());
    EXPECT_TRUE(app->reachable());
}

TEST(PhoneAppOpen, SaysWhyTheLogbookCannotBeOpened) {
    platform::ManualExecutor executor;
    platform::MemoryLog log;
    platform::testing::TempDirectory dir;
    phone::fakes::FakePhoneSession session{executor};
    platform::testing::TempDirectory::writeText(dir.path() / "file", "x");
    std::string error;
    EXPECT_FALSE(phone::PhoneApp::open({executor, session, log, dir.path() / "file"},
                                       phone::TrainingPlan{}, &error));
    EXPECT_NE(error.find("file"), std::string::npos) << error;
}

} // namespace

namespace {

// The edits of the current workout reach the watch as deltas once it has confirmed a state.
class PhoneAppEdits : public phone::testing::AppFixture {
protected:
    void answer(std::size_t message, std::string status = "Success") {
        ASSERT_LT(message, session.liveMessages.size());
        ASSERT_TRUE(session.liveMessages[message].onReply);
        (*session.liveMessages[message].onReply)(Dictionary{{"status", std::move(status)}});
        executor.runUntilIdle();
    }
    std::string firstExerciseId() const {
        return *app->feed().exercises().front().find("id")->string();
    }
};

TEST_F(PhoneAppEdits, SendADeltaOnlyOnTopOfAConfirmedState) {
    auto id = firstExerciseId();
    ASSERT_TRUE(app->updateExercise(id, {{"name", "Changed"}}));
    ASSERT_EQ(session.liveMessages.size(), 1u);
    EXPECT_FALSE(session.liveMessages[0].body.contains("syncSnapshotKind"));

    answer(0, "Retry");
    ASSERT_TRUE(app->removeExercise(id));
    EXPECT_FALSE(session.liveMessages[1].body.contains("syncSnapshotKind"));

    answer(1);
    ASSERT_TRUE(app->reorderExercises({}) == false);
    std::vector<std::string> order;
    for (const auto& exercise : app->feed().exercises()) {
        order.insert(order.begin(), *exercise.find("id")->string());
    }
    ASSERT_TRUE(app->reorderExercises(order));
    const auto& delta = session.liveMessages.back().body;
    EXPECT_EQ(delta.at("syncSnapshotKind"), Value("delta"));
    EXPECT_EQ(delta.at("syncRevision"), Value(3.0));
    EXPECT_EQ(delta.at("removedExerciseIds"), Value(platform::Array{}));

    // A refresh request means the watch's copy is gone.
    session.receiveMessage(outboxMessage("refresh_data", "R1"));
    executor.runUntilIdle();
    ASSERT_TRUE(app->addExercise({{"id", "new-one"}, {"name", "Curl"}}));
    EXPECT_FALSE(session.liveMessages.back().body.contains("syncSnapshotKind"));
}

TEST_F(PhoneAppEdits, SendTheNewestStateAgainByTransferWhenNoAnswerComes) {
    ASSERT_TRUE(app->updateExercise(firstExerciseId(), {{"name", "A"}}));
    executor.advanceBy(2s);
    ASSERT_TRUE(app->updateExercise(firstExerciseId(), {{"name", "B"}}));
    executor.advanceBy(3s);
    EXPECT_TRUE(session.transfers.empty());
    executor.advanceBy(2s);
    // Only the newest unanswered revision is sent again.
    ASSERT_EQ(session.transfers.size(), 1u);
    answer(1);
    EXPECT_EQ(session.transfers[0].at("syncRevision"), Value(3.0));
    EXPECT_EQ(*session.transfers[0].at("exercises").array()->front().find("name"), Value("B"));
    executor.advanceBy(10s);
    EXPECT_EQ(session.transfers.size(), 1u);

    ASSERT_TRUE(app->updateExercise(firstExerciseId(), {{"name", "C"}}));
    answer(2);
    executor.advanceBy(10s);
    EXPECT_EQ(session.transfers.size(), 1u) << "a confirmed revision is not sent again";
}

TEST_F(PhoneAppEdits, SendASnapshotTooLargeForAMessageAsAFile) {
    std::string longName(70'000, 'x');
    ASSERT_TRUE(app->updateExercise(firstExerciseId(), {{"name", longName}}));
    ASSERT_TRUE(session.liveMessages.empty());
    ASSERT_EQ(session.files.size(), 1u);
    EXPECT_EQ(session.files[0].second.at("syncPayloadKind"), Value("full_snapshot"));
    EXPECT_EQ(session.files[0].second.at("syncRevision"), Value(1.0));
    EXPECT_GT(session.files[0].first.size(), 70'000u);
}

TEST_F(PhoneAppEdits, KeepEditsInThePlanWhenAnotherWorkoutIsChosen) {
    ASSERT_TRUE(app->updateExercise(firstExerciseId(), {{"name", "Renamed"}}));
    ASSERT_TRUE(app->selectWorkout(1));
    ASSERT_TRUE(app->selectWorkout(0));
    EXPECT_EQ(*app->feed().exercises().front().find("name"), Value("Renamed"));
}

} // namespace

namespace {

TEST_F(PhoneApp, ShowsTheWatchsHeartRateAndEnergyFromItsMirroredData) {
    platform::Statistics heartRate{
        platform::HealthType::heartRate, platform::Date{1000}, platform::Date{1005},
        platform::Quantity{2.2, platform::HealthUnit::countPerSecond}, std::nullopt};
    platform::Statistics energy{platform::HealthType::activeEnergyBurned, platform::Date{1000},
                                platform::Date{1005}, std::nullopt,
                                platform::Quantity{41.6, platform::HealthUnit::kilocalorie}};
    auto archive = platform::encodeStatisticsArchive({heartRate, energy});
    ASSERT_TRUE(archive);
    session.delegate->didReceiveWorkoutData(*archive);
    session.delegate->didReceiveWorkoutData(platform::Data{1, 2, 3});
    executor.runUntilIdle();
    EXPECT_DOUBLE_EQ(app->lastHeartRate(), 132);
    EXPECT_DOUBLE_EQ(app->totalEnergyBurned(), 41.6);
    EXPECT_TRUE(log.contains("workout on the watch: heart rate 132 bpm energy 42 kcal"));
    EXPECT_TRUE(log.contains("not a statistics archive (3 bytes)"));
}

} // namespace

namespace {

std::string firstSetId(const phone::PhoneApp& app) {
    const auto& exercise = app.feed().exercises().front();
    return *exercise.find("exerciseSets")->array()->front().find("id")->string();
}

TEST_F(PhoneApp, AppliesAWatchEventOnceSendsTheResultAndKeepsItAcrossARestart) {
    auto setId = firstSetId(*app);
    auto completion = outboxMessage("complete_set", "C1",
                                    {{"id", setId},
                                     {"status", "COMPLETE"},
                                     {"dateCompleted", "2026-01-05T09:05:00Z"},
                                     {"occurredAt", 1767603900000.0},
                                     {"timerSeconds", 120},
                                     {"timerId", "T1"},
                                     {"timerRevision", 0}});
    session.receiveMessage(completion);
    executor.runUntilIdle();
    EXPECT_EQ(app->feed().findSet(setId)->at("status"), Value("COMPLETE"));
    // The acknowledgement, then the watch's own change sent back as the phone's newest state.
    ASSERT_EQ(session.liveMessages.size(), 2u);
    EXPECT_EQ(session.liveMessages[0].body, ack("C1"));
    EXPECT_EQ(session.liveMessages[1].body.at("syncRevision"), Value(1.0));
    const auto& sent =
        *session.liveMessages[1].body.at("exercises").array()->front().find("exerciseSets");
    EXPECT_EQ(*sent.array()->front().find("status"), Value("COMPLETE"));

    session.receiveUserInfo(completion);
    executor.runUntilIdle();
    EXPECT_EQ(session.liveMessages.size(), 3u) << "a repeat is acknowledged, not applied again";

    app.reset();
    startApp();
    EXPECT_EQ(app->feed().findSet(setId)->at("status"), Value("COMPLETE"));
    EXPECT_EQ(app->timer().id, "T1");
}

TEST_F(PhoneApp, CorrectsAndStopsTheRunningTimerNamingTheRunItCorrects) {
    EXPECT_FALSE(app->correctTimer(30));
    session.receiveMessage(outboxMessage("complete_set", "C1",
                                         {{"id", firstSetId(*app)},
                                          {"occurredAt", 1000.0},
                                          {"timerSeconds", 120},
                                          {"timerId", "T1"},
                                          {"timerRevision", 0}}));
    executor.runUntilIdle();
    session.liveMessages.clear();
    ASSERT_TRUE(app->correctTimer(150));
    ASSERT_TRUE(app->stopTimer());
    ASSERT_EQ(session.liveMessages.size(), 2u);
    const auto& correction = session.liveMessages[0].body;
    EXPECT_EQ(correction.at("timerCorrectionForId"), Value("T1"));
    EXPECT_EQ(correction.at("timerCorrectionForRevision"), Value(0));
    EXPECT_EQ(correction.at("timerCorrectionForStartTime"), Value(1000.0));
    const auto& data = *correction.at("restTimerData").dictionary();
    EXPECT_EQ(data.at("timerSeconds"), Value(150.0));
    EXPECT_EQ(data.at("timerRevision"), Value(1));
    const auto& stop = session.liveMessages[1].body;
    EXPECT_EQ(stop.at("timerCorrectionForRevision"), Value(1));
    EXPECT_EQ(stop.at("restTimerData").dictionary()->at("timerIsRunning"), Value(false));
    EXPECT_FALSE(app->stopTimer());
}

TEST_F(PhoneApp, SendsPlatesAndAvailableWorkoutsWholeAndAsDeltas) {
    ASSERT_TRUE(app->sendCatalogues());
    ASSERT_TRUE(app->updatePlate(
        {{"id", "plate-1.25"}, {"weight", 1.25}, {"units", "lb"}, {"quantity", 2}}));
    ASSERT_TRUE(app->removePlate("plate-35"));
    EXPECT_FALSE(app->removePlate("plate-35"));
    EXPECT_FALSE(app->updatePlate({{"weight", 1}}));
    ASSERT_EQ(session.liveMessages.size(), 3u);
    EXPECT_EQ(session.liveMessages[0].body.at("weight_plates"), Value(plan.weightPlates));
    EXPECT_EQ(session.liveMessages[0].body.at("availableWorkouts"),
              Value(Array{plan.workouts.front()}));
    EXPECT_EQ(session.liveMessages[1].body.at("weightPlatesRevision"), Value(2.0));
    EXPECT_EQ(session.liveMessages[1].body.at("weightPlateUpdates").array()->size(), 1u);
    EXPECT_EQ(session.liveMessages[2].body.at("removedWeightPlateIds"), Value(Array{"plate-35"}));
    EXPECT_EQ(session.liveMessages[2].body.at("weightPlatesRevision"), Value(3.0));

    ASSERT_TRUE(app->retireWorkout("wk1-day-a"));
    EXPECT_FALSE(app->retireWorkout("no-such-workout"));
    EXPECT_EQ(session.liveMessages.back().body.at("removedAvailableWorkoutIds"),
              Value(Array{"wk1-day-a"}));
    ASSERT_TRUE(app->sendCatalogues());
    const auto& offered = *session.liveMessages.back().body.at("availableWorkouts").array();
    ASSERT_EQ(offered.size(), 1u) << "a workout taken out is not offered again";
    EXPECT_EQ(*offered.front().find("id"), Value("wk1-day-b"));
}

} // namespace
