// The hub's side of the watch's edits (the events it queues) and of the rest timer (the phone's
// timer data, the countdown's rest, a run that ran out while the app was away).
#include "sync/inbound/hub_fixture.hpp"
#include "timer/rest_timer_manager.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;
using hubtest::Hub;
using platform::Array;
using platform::Dictionary;
using platform::Value;
using watchsync::WatchDataSource;

Dictionary message(std::string type, Dictionary payload) {
    return {{"type", Value(std::move(type))}, {"payload", Value(std::move(payload))}};
}

class HubEdits : public Hub {
protected:
    // Type and payload of every queued message after the refresh request, oldest first.
    std::vector<Dictionary> sent() {
        std::vector<Dictionary> result;
        for (const auto& pending : outbox->pendingMessages()) {
            auto dictionary = *platform::decodeBinaryPlist(pending.payload)->dictionary();
            dictionary.erase("syncId");
            if (*dictionary.at("type").string() != "refresh_data") {
                result.push_back(std::move(dictionary));
            }
        }
        return result;
    }

    model::ExerciseRef exercise(std::string id) {
        auto made = std::make_shared<model::Exercise>();
        made->id = std::move(id);
        return made;
    }
};

TEST_F(HubEdits, KeypadAndDurationEditsSendUpdateSet) {
    data->sendSetFieldEdit("S-1", "weight", "142.5");
    data->sendSetFieldEdit("S-1", "id", "forged");
    data->sendSetDurationEdit("S-1", 75);
    EXPECT_EQ(sent(), (std::vector<Dictionary>{
                          message("update_set", {{"id", "S-1"}, {"weight", "142.5"}}),
                          message("update_set", {{"id", "S-1"}}),
                          message("update_set", {{"id", "S-1"}, {"duration", 75}}),
                      }));
}

TEST_F(HubEdits, AnExerciseIsDeletedInALaterTaskAndTheEventGoesEvenWithoutAMatch) {
    data->exercises = std::vector<model::ExerciseRef>{exercise("E-1"), exercise("E-2")};
    data->deleteExercise("E-1");
    EXPECT_EQ(data->exercises->size(), 2u);
    executor.runUntilIdle();
    ASSERT_EQ(data->exercises->size(), 1u);
    EXPECT_EQ(data->exercises->front()->id, "E-2");
    data->deleteExercise("E-9");
    executor.runUntilIdle();
    EXPECT_EQ(sent(), (std::vector<Dictionary>{message("delete_exercise", {{"id", "E-1"}}),
                                               message("delete_exercise", {{"id", "E-9"}})}));
}

TEST_F(HubEdits, AnExerciseFromTheCatalogueIsAnnouncedBeforeItsFirstSet) {
    data->exercises =
        std::vector<model::ExerciseRef>{exercise("A"), exercise("B"), exercise("C"), exercise("D")};
    data->workoutId = std::string("w1");
    model::ReferenceExercise landmine;
    landmine.id = "R-1";
    landmine.name = "Landmine Press";
    landmine.equipment = "Landmine";
    landmine.weightUnits = "kg";
    landmine.isDuration = true;
    landmine.restTimer.assistance = 75;
    landmine.barbell = model::Barbell{"Olympic Bar", 20, "kg"};

    auto created = data->createExercise(landmine, std::nullopt);
    EXPECT_EQ(created->sequence, 4);
    EXPECT_EQ(created->plateMultiplier, 1);
    EXPECT_EQ(created->timerSeconds, 75);
    EXPECT_EQ(created->warmupTimerSeconds, 75);
    EXPECT_EQ(created->weightUnits, "kg");
    EXPECT_TRUE(created->isDuration);
    EXPECT_EQ(created->barbell, landmine.barbell);
    EXPECT_EQ(created->status, "NOT_STARTED");
    EXPECT_EQ(data->exercises->back(), created);
    ASSERT_EQ(created->exerciseSets->size(), 1u);
    const auto events = sent();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], message("create_exercise",
                                 {{"name", "Landmine Press"},
                                  {"referenceExerciseId", "R-1"},
                                  {"id", created->id},
                                  {"templateExerciseId", created->templateExerciseId.value()},
                                  {"sequence", 4},
                                  {"workoutId", "w1"}}));
    EXPECT_EQ(*events[1].at("type").string(), "add_set");
    EXPECT_EQ(*events[1].at("payload").find("exerciseId")->string(), created->id);
}

TEST_F(HubEdits, EquipmentIsComparedWholeAndAGivenSequenceAndWarmupRestAreKept) {
    model::ReferenceExercise lower;
    lower.equipment = "landmine";
    lower.restTimer.warmup = 45;
    auto created = data->createExercise(lower, 9);
    EXPECT_EQ(created->plateMultiplier, 2);
    EXPECT_EQ(created->sequence, 9);
    EXPECT_EQ(created->warmupTimerSeconds, 45);
    EXPECT_EQ(created->timerSeconds, 120);
    EXPECT_NE(created->id, created->templateExerciseId);
}

TEST_F(HubEdits, TheExercisesEditsGoThroughTheHubsSink) {
    auto squat = exercise("E-1");
    squat->addSet(data->editEvents());
    platform::MemoryLog kindLog;
    squat->changeSetType(squat->exerciseSets->front()->id.get(), model::SetType::drop, "D",
                         data->editEvents(), kindLog);
    const auto events = sent();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(*events[0].at("type").string(), "add_set");
    EXPECT_EQ(*events[1].at("payload").find("type")->string(), "drop");
}

// The hub with the program's rest timer and a recording of its alerts.
class HubTimer : public HubEdits {
protected:
    struct Alerts final : timer::TimerAlerts {
        std::vector<double> scheduled;
        int cancelled = 0;
        void scheduleRestTimerNotification(double seconds, bool) override {
            scheduled.push_back(seconds);
        }
        void cancelRestTimerNotifications() override { ++cancelled; }
    } alerts;
    std::optional<timer::RestTimerManager> restTimer;

    void SetUp() override {
        outbox.emplace(executor, session, defaults, log);
        restTimer.emplace(executor, defaults, *outbox, log);
        restTimer->setAlerts(&alerts);
        data.emplace(WatchDataSource::Services{executor, defaults, files, &session, *outbox, log},
                     WatchDataSource::Managers{&*restTimer, nullptr, {}, {}, {}});
        executor.runUntilIdle();
    }

    double nowMs() { return restTimer->now().unixMillis(); }

    static Dictionary plankWithRest(std::int64_t rest) {
        Dictionary set{{"id", "S-1"}, {"status", "NOT_STARTED"}, {"duration", 60}};
        set.insert_or_assign("timerSeconds", rest);
        return Dictionary{{"id", "E-1"},
                          {"name", "Plank"},
                          {"status", "IN_PROGRESS"},
                          {"isDuration", true},
                          {"exerciseSets", Array{set}}};
    }

    Dictionary snapshot(double revision, Dictionary timerData) {
        return {{"syncRevision", revision},
                {"workout", Dictionary{{"id", "w1"}, {"name", "Day A"}, {"status", "IN_PROGRESS"}}},
                {"exercises", Array{plankWithRest(90)}},
                {"restTimerData", std::move(timerData)}};
    }

    Dictionary countdown(double startMs) {
        return {{"timerIsRunning", true},      {"timerId", "T-1"},
                {"startTime", startMs},        {"timerSeconds", 60},
                {"isExerciseCountdown", true}, {"durationSetId", "S-1"},
                {"exerciseId", "E-1"}};
    }
};

TEST_F(HubTimer, ThePhonesTimerAppliesWithTheWorkoutAndOnlyWithABooleanRunningFlag) {
    auto notBoolean = countdown(nowMs());
    notBoolean.insert_or_assign("timerIsRunning", "yes");
    dispatch(snapshot(1, notBoolean));
    EXPECT_FALSE(restTimer->timerIsRunning.get());

    dispatch(snapshot(2, countdown(nowMs())));
    EXPECT_TRUE(restTimer->timerIsRunning.get());
    EXPECT_EQ(restTimer->timerId, "T-1");
    EXPECT_EQ(restTimer->titleMessage.get(), "Plank");
    EXPECT_EQ(restTimer->postCountdownRestSeconds, 90);
    EXPECT_EQ(alerts.scheduled, std::vector<double>{60});
}

TEST_F(HubTimer, ARunningCountdownTakesTheRestOfItsSetAsThePhoneChangesIt) {
    dispatch(snapshot(1, countdown(nowMs())));
    dispatch(Dictionary{{"syncRevision", 2.0},
                        {"syncSnapshotKind", "delta"},
                        {"exerciseUpdates", Array{plankWithRest(120)}}});
    EXPECT_EQ(restTimer->postCountdownRestSeconds, 120);
    EXPECT_EQ(timer::decodeTimerSession(
                  *defaults.dataForKey(timer::RestTimerManager::timerSessionStorageKey))
                  ->postCountdownRestSeconds,
              120);
}

TEST_F(HubTimer, ACountdownThatRanOutWhileAwayCompletesItsSetWithTheNextPayload) {
    const double startMs = nowMs();
    dispatch(snapshot(1, countdown(startMs)));
    executor.advanceBy(70s);
    dispatch(Dictionary{{"error", ""}});

    const auto& set = data->exercises->front()->exerciseSets->front();
    EXPECT_EQ(set->status.get(), "COMPLETE");
    EXPECT_EQ(set->dateCompleted.get(), platform::Date::fromUnixMillis(startMs + 60000));
    const auto events = sent();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(*events[0].at("type").string(), "complete_set");
    // The rest after it has 80 of its 90 seconds left.
    EXPECT_TRUE(restTimer->timerIsRunning.get());
    EXPECT_EQ(alerts.scheduled.back(), 80);
}

TEST_F(HubTimer, ThePhonesTimerForAWorkoutNoLongerRunningStopsTheWatchTimer) {
    dispatch(snapshot(1, countdown(nowMs())));
    auto finished = snapshot(2, {{"timerIsRunning", false}});
    finished.insert_or_assign("workout",
                              Dictionary{{"id", "w1"}, {"name", "Day A"}, {"status", "COMPLETE"}});
    dispatch(finished);
    EXPECT_FALSE(restTimer->timerIsRunning.get());
    EXPECT_GT(alerts.cancelled, 0);
    EXPECT_TRUE(sent().empty());
}

} // namespace
