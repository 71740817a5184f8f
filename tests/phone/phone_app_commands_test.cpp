// phone-sim's commands to the watch, the tricks a script plays with them, and the exercise
// catalogue.
#include "phone/app_fixture.hpp"
#include "phone/command_runner.hpp"
#include "platform/values/json.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;
using phone::SessionAction;
using phone::testing::AppFixture;
using platform::Array;
using platform::Dictionary;
using platform::Value;

class PhoneAppCommands : public AppFixture {
protected:
    double nowMs() const {
        return static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       executor.clock().now().time_since_epoch())
                                       .count());
    }
    std::vector<std::string> sentIds() const {
        std::vector<std::string> ids;
        for (const auto& body : session.liveBodies()) {
            ids.push_back(*body.at("commandId").string());
        }
        return ids;
    }
};

TEST_F(PhoneAppCommands, HealthSessionCommandsNameTheWorkoutAndTheMomentNow) {
    executor.advanceBy(90s);
    ASSERT_TRUE(app->sendSessionCommand(SessionAction::finish, std::nullopt, false));
    ASSERT_TRUE(app->sendSessionCommand(SessionAction::pause, "wk1-day-c"));
    ASSERT_TRUE(app->sendSessionCommand(SessionAction::stop));
    ASSERT_EQ(session.liveMessages.size(), 3u);

    EXPECT_EQ(session.liveMessages[0].body,
              (Dictionary{{"commandId", "phone-cmd-1"},
                          {"finish_workout_session", Dictionary{{"workoutId", "wk1-day-a"},
                                                                {"endedAt", nowMs()},
                                                                {"saveToHealth", false}}}}));
    EXPECT_EQ(session.liveMessages[1].body,
              (Dictionary{{"commandId", "phone-cmd-2"},
                          {"commandSequence", 2.0},
                          {"pause_workout_session_v2",
                           Dictionary{{"workoutId", "wk1-day-c"}, {"occurredAt", nowMs()}}}}));
    EXPECT_EQ(session.liveMessages[2].body.at("stop_workout_session"),
              Value(Dictionary{{"workoutId", "wk1-day-a"}, {"occurredAt", nowMs()}}));
    // Every command expects the watch's answer.
    for (const auto& message : session.liveMessages) {
        EXPECT_TRUE(message.onReply);
    }
}

TEST_F(PhoneAppCommands, TheHealthPreferenceIsAnOrderedCommand) {
    ASSERT_TRUE(app->sendHealthPreference(false));
    EXPECT_EQ(session.liveBodies(), (std::vector<Dictionary>{{{"commandId", "phone-cmd-1"},
                                                              {"commandSequence", 1.0},
                                                              {"syncWorkoutsToHealth", false}}}));
}

TEST_F(PhoneAppCommands, NoteTheWatchsAnswerAndGoByTransferWhenTheWatchIsAway) {
    ASSERT_TRUE(app->sendHealthPreference(true));
    (*session.liveMessages[0].onReply)({{"status", "Success"}, {"commandAck", "phone-cmd-9"}});
    executor.runUntilIdle();
    EXPECT_FALSE(app->commands().isAcknowledged("phone-cmd-1")) << "an answer to another command";
    (*session.liveMessages[0].onReply)({{"status", "Success"}, {"commandAck", "phone-cmd-1"}});
    executor.runUntilIdle();
    EXPECT_TRUE(app->commands().isAcknowledged("phone-cmd-1"));

    session.reachable = false;
    ASSERT_TRUE(app->sendSessionCommand(SessionAction::cancel));
    ASSERT_EQ(session.transfers.size(), 1u);
    EXPECT_EQ(session.transfers[0].at("commandId"), Value("phone-cmd-2"));
    EXPECT_TRUE(session.transfers[0].contains("cancel_workout_session"));

    // A live message refused at once goes again by transfer, the same command.
    session.reachable = true;
    session.failLiveMessages = true;
    ASSERT_TRUE(app->sendHealthPreference(false));
    executor.runUntilIdle();
    ASSERT_EQ(session.transfers.size(), 2u);
    EXPECT_EQ(session.transfers[1], session.liveMessages.back().body);
}

TEST_F(PhoneAppCommands, GoAgainByTransferWhenTheWatchDoesNotAnswer) {
    ASSERT_TRUE(app->sendHealthPreference(false));
    ASSERT_TRUE(app->sendSessionCommand(SessionAction::pause));
    (*session.liveMessages[1].onReply)({{"status", "Success"}, {"commandAck", "phone-cmd-2"}});
    executor.advanceBy(phone::PhoneApp::confirmationTimeout - 1ms);
    EXPECT_TRUE(session.transfers.empty());
    executor.advanceBy(1ms);
    // Only the unanswered one, unchanged: the watch applies it once whichever copy comes first.
    EXPECT_EQ(session.transfers, std::vector<Dictionary>{session.liveMessages[0].body});
    executor.advanceBy(1min);
    EXPECT_EQ(session.transfers.size(), 1u);
    EXPECT_TRUE(log.contains("no answer to command phone-cmd-1: sent it again as transfer"));
}

TEST_F(PhoneAppCommands, IdsAndSequencesKeepGrowingAcrossARestart) {
    ASSERT_TRUE(app->sendHealthPreference(true));
    ASSERT_TRUE(app->sendSessionCommand(SessionAction::start));
    app.reset();
    startApp();
    ASSERT_TRUE(app->sendHealthPreference(false));
    ASSERT_EQ(session.liveMessages.size(), 3u);
    EXPECT_EQ(sentIds(), (std::vector<std::string>{"phone-cmd-1", "phone-cmd-2", "phone-cmd-3"}));
    EXPECT_EQ(session.liveMessages[2].body.at("commandSequence"), Value(3.0));
}

TEST_F(PhoneAppCommands, TimerCorrectionsGoAsCommandsOutsideTheOrder) {
    session.receiveMessage(outboxMessage("complete_set", "C1",
                                         {{"id", "set-0001"},
                                          {"occurredAt", 1000.0},
                                          {"timerSeconds", 60},
                                          {"timerId", "T1"},
                                          {"timerRevision", 0}}));
    executor.runUntilIdle();
    session.liveMessages.clear();
    ASSERT_TRUE(app->correctTimer(90));
    ASSERT_EQ(session.liveMessages.size(), 1u);
    const auto& correction = session.liveMessages[0].body;
    EXPECT_EQ(correction.at("commandId"), Value("phone-cmd-1"));
    EXPECT_FALSE(correction.contains("commandSequence"));
    EXPECT_EQ(correction.at("timerCorrectionForId"), Value("T1"));
    EXPECT_EQ(correction.at("timerCorrectionForStartTime"), Value(1000.0));
}

TEST_F(PhoneAppCommands, AScriptCanRepeatReorderAndAgeCommands) {
    phone::CommandRunner runner(*app, executor.main(), log, [] {});
    for (const char* line :
         {"health-sync off", "hold on", "session-pause", "session-resume", "session-stop",
          "release 3 1", "hold off", "resend phone-cmd-1", "age sequence 1", "health-sync on",
          "age revision 1", "session-pause", "release", "resend"}) {
        runner.submit(line);
    }
    executor.runUntilIdle();
    EXPECT_EQ(runner.failures(), 0u);

    auto bodies = session.liveBodies();
    ASSERT_EQ(bodies.size(), 8u);
    EXPECT_EQ(sentIds(), (std::vector<std::string>{"phone-cmd-1", "phone-cmd-4", "phone-cmd-2",
                                                   "phone-cmd-1", "phone-cmd-5", "phone-cmd-6",
                                                   "phone-cmd-3", "phone-cmd-3"}));
    // Held commands keep the sequence they were given: the pause goes after the stop.
    EXPECT_TRUE(bodies[1].contains("stop_workout_session"));
    EXPECT_EQ(bodies[2].at("commandSequence"), Value(2.0));
    EXPECT_EQ(bodies[3], bodies[0]) << "a repeat is the same command";
    EXPECT_EQ(bodies[4].at("commandSequence"), Value(1.0)) << "aged";
    EXPECT_EQ(bodies[4].at("syncWorkoutsToHealth"), Value(true));
    EXPECT_EQ(bodies[5].at("syncRevision"), Value(1.0)) << "a stale revision";
    EXPECT_EQ(bodies[5].at("commandSequence"), Value(6.0));
    EXPECT_TRUE(bodies[6].contains("resume_workout_session_v2"));
    EXPECT_EQ(bodies[7], bodies[6]);

    runner.submit("release 1");
    runner.submit("resend phone-cmd-77");
    executor.runUntilIdle();
    EXPECT_EQ(runner.failures(), 2u);
    EXPECT_EQ(session.liveMessages.size(), 8u);
}

class PhoneAppCatalogue : public AppFixture {};

TEST_F(PhoneAppCatalogue, GoesWholeAsDeltasAndAsAFileUnderGrowingRevisions) {
    ASSERT_TRUE(app->sendReferenceCatalogue());
    ASSERT_TRUE(app->updateReferenceExercise(
        {{"id", "ref-dip"}, {"name", "Dip"}, {"equipment", "Bodyweight"}, {"isRecent", true}}));
    ASSERT_TRUE(app->removeReferenceExercise("ref-deadlift"));
    EXPECT_FALSE(app->removeReferenceExercise("ref-deadlift"));
    EXPECT_FALSE(app->updateReferenceExercise({{"id", "ref-x"}}));
    ASSERT_TRUE(app->sendReferenceCatalogueFile());
    ASSERT_TRUE(app->sendReferenceCatalogue(true));

    auto bodies = session.liveBodies();
    ASSERT_EQ(bodies.size(), 3u);
    EXPECT_EQ(bodies[0], (Dictionary{{"reference_exercises", plan.referenceExercises},
                                     {"referenceExercisesRevision", 1.0}}));
    EXPECT_EQ(bodies[1].at("referenceExercisesRevision"), Value(2.0));
    EXPECT_EQ(bodies[1].at("referenceExerciseUpdates").array()->size(), 1u);
    EXPECT_EQ(bodies[2], (Dictionary{{"removedReferenceExerciseIds", Array{"ref-deadlift"}},
                                     {"referenceExercisesRevision", 3.0}}));
    ASSERT_EQ(session.files.size(), 1u);
    EXPECT_EQ(session.files[0].second.at("referenceExercisesRevision"), Value(4.0));
    EXPECT_EQ(session.files[0].second.at("syncPayloadKind"), Value("reference_exercises"));
    auto document = platform::parseJson(
        std::string(session.files[0].first.begin(), session.files[0].first.end()));
    ASSERT_TRUE(document);
    EXPECT_EQ(document->find("items")->array()->size(), plan.referenceExercises.size());
    ASSERT_EQ(session.contexts.size(), 1u);
    EXPECT_EQ(session.contexts[0].at("referenceExercisesRevision"), Value(5.0));
    // The workout's own revisions are not used up.
    EXPECT_EQ(app->revision(), 0);
    EXPECT_EQ(app->catalogueRevision(), 5);

    app.reset();
    startApp();
    session.liveMessages.clear();
    ASSERT_TRUE(app->reorderReferenceExercises({}) == false);
    app->ageNextRevision(2);
    ASSERT_TRUE(app->sendReferenceCatalogue());
    ASSERT_TRUE(app->sendReferenceCatalogue());
    EXPECT_EQ(session.liveMessages[0].body.at("referenceExercisesRevision"), Value(2.0)) << "aged";
    EXPECT_EQ(session.liveMessages[1].body.at("referenceExercisesRevision"), Value(6.0))
        << "the revision keeps growing across a restart";
}

TEST_F(PhoneAppCatalogue, RefreshAnswersCarryItUnderTheRevisionOfItsLatestChange) {
    auto refreshCatalogue = [&](std::string syncId) {
        session.liveMessages.clear();
        session.receiveMessage(outboxMessage("refresh_data", std::move(syncId)));
        executor.runUntilIdle();
        const auto& answer = session.liveMessages.front().body;
        return std::pair(answer.at("referenceExercisesRevision"),
                         answer.at("reference_exercises").array()->size());
    };
    EXPECT_EQ(refreshCatalogue("R1"), std::pair(Value(1.0), plan.referenceExercises.size()));
    EXPECT_EQ(refreshCatalogue("R2"), std::pair(Value(1.0), plan.referenceExercises.size()))
        << "nothing changed, so the watch has nothing new to take";
    ASSERT_TRUE(app->removeReferenceExercise("ref-deadlift"));
    app->ageNextRevision(1);
    ASSERT_TRUE(app->sendReferenceCatalogue());
    EXPECT_EQ(refreshCatalogue("R3"), std::pair(Value(2.0), plan.referenceExercises.size() - 1));
}

TEST_F(PhoneAppCatalogue, ReordersAsADeltaNamingEveryEntry) {
    std::vector<std::string> order;
    for (const auto& entry : plan.referenceExercises) {
        order.insert(order.begin(), *entry.find("id")->string());
    }
    ASSERT_TRUE(app->reorderReferenceExercises(order));
    EXPECT_EQ(session.liveBodies().back().at("referenceExerciseOrder"),
              Value(Array(order.begin(), order.end())));
    EXPECT_EQ(*app->referenceCatalogue().entries().front().find("id"), Value(order.front()));
}

} // namespace
