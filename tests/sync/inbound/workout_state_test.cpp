#include "platform/values/json.hpp"
#include "support/watch_core_fixture.hpp"

#include <gtest/gtest.h>

using Hub = testsupport::WatchCoreTest;
using platform::Array;
using platform::Dictionary;
using platform::Value;

namespace {

Dictionary json(std::string_view text) {
    return *platform::parseJson(text)->dictionary();
}

Dictionary revisioned(double revision, bool delta, Dictionary extra = {}) {
    extra.insert_or_assign("syncRevision", Value(revision));
    if (delta) {
        extra.insert_or_assign("syncSnapshotKind", Value("delta"));
    }
    return extra;
}

Array exerciseList(std::initializer_list<const char*> ids) {
    Array list;
    for (const auto* id : ids) {
        list.emplace_back(
            Dictionary{{"id", id}, {"name", std::string("E") + id}, {"status", "NOT_STARTED"}});
    }
    return list;
}

class WorkoutState : public Hub {
protected:
    std::vector<std::string> exerciseIds() {
        std::vector<std::string> ids;
        for (const auto& e : data().exercises.get()) {
            ids.push_back(e->id);
        }
        return ids;
    }
};

using Ids = std::vector<std::string>;
const Dictionary success{{"status", Value("Success")}};
const Dictionary retry{{"status", Value("Retry")}};

} // namespace

TEST_F(WorkoutState, RevisionsOfSnapshotsAndDeltasOnlyMoveForward) {
    // (revision, delta, accepted) in order: a refusal answers with its revision.
    const std::vector<std::tuple<double, bool, bool>> steps{
        {5, false, true},  {5, true, false}, {6, true, true}, {6, true, false},  {6, false, true},
        {6, false, false}, {6, true, false}, {8, true, true}, {7, false, false}, {8, false, true}};
    for (const auto& [revision, delta, accepted] : steps) {
        auto expected = success;
        if (!accepted) {
            expected.insert_or_assign("syncRevision", Value(revision));
        }
        EXPECT_EQ(dispatch(revisioned(revision, delta)), expected) << revision << delta;
    }
    EXPECT_EQ(data().lastSnapshotRevision, 8);

    // A refused message changes nothing; one without a revision is applied and moves none.
    dispatch(revisioned(3, false, {{"exercises", Value(exerciseList({"b"}))}}));
    EXPECT_TRUE(exerciseIds().empty());
    EXPECT_EQ(dispatch({{"exercises", Value(exerciseList({"c"}))}}), success);
    EXPECT_EQ(exerciseIds(), (Ids{"c"}));
    EXPECT_EQ(data().lastSnapshotRevision, 8);
}

TEST_F(WorkoutState, HeaderSetsTheWorkoutAndABrokenOneSetsTheError) {
    dispatch(json(R"({"workout": {"id": "w1", "name": "Day A", "status": "IN_PROGRESS"}})"));
    EXPECT_EQ(data().workoutId.get(), "w1");
    EXPECT_EQ(data().workoutStatus.get(), "IN_PROGRESS");
    dispatch(json(R"({"workout": {"id": "w2", "status": "IN_PROGRESS"}})"));
    EXPECT_EQ(data().workoutId.get(), "w1");
    EXPECT_FALSE(data().syncWorkoutError->empty());
    dispatch(json(R"({"error": 5, "workout": "not a dictionary"})"));
    EXPECT_EQ(data().syncWorkoutError.get(), "");
    dispatch(json(R"({"error": "The phone is busy"})"));
    EXPECT_EQ(data().syncWorkoutError.get(), "The phone is busy");
}

TEST_F(WorkoutState, WholeListWinsOverDeltaKeysAndAMistypedListCountsAsAbsent) {
    dispatch({{"exercises", Value(exerciseList({"a"}))},
              {"exerciseUpdates", Value(exerciseList({"z"}))}});
    EXPECT_EQ(exerciseIds(), (Ids{"a"}));
    Array mixed = exerciseList({"x"});
    mixed.push_back(Value("not an exercise"));
    dispatch({{"exercises", Value(mixed)}, {"exerciseUpdates", Value(exerciseList({"z"}))}});
    EXPECT_EQ(exerciseIds(), (Ids{"a", "z"}));
}

TEST_F(WorkoutState, ThePhonesCopyOfAWorkoutTheWatchEndedOrStartedIsRefusedWithRetry) {
    session.state = platform::ActivationState::notActivated; // what is queued stays queued
    core->outbox().enqueue(json(R"({"type": "complete_workout", "payload": {"workoutId": "w1"}})"));
    EXPECT_EQ(dispatch(json(R"({"workout": {"id": "w1", "name": "A", "status": "IN_PROGRESS"}})")),
              retry);
    EXPECT_EQ(data().workoutId.get(), "");
    EXPECT_EQ(sentTypes(), (std::vector<std::string>{"complete_workout", "refresh_data"}));

    core->outbox().enqueue(json(R"({"type": "start_workout", "payload": {"id": "w2"}})"));
    data().workoutId = std::string("w2");
    data().workoutStatus = std::string("IN_PROGRESS");
    for (const char* stale : {R"({"id": "w3", "name": "B", "status": "IN_PROGRESS"})",
                              R"({"id": "w2", "name": "A", "status": "COMPLETE"})"}) {
        EXPECT_EQ(dispatch({{"workout", Value(json(stale))}}), retry) << stale;
    }
    EXPECT_EQ(dispatch(json(R"({"workout": {"id": "w2", "name": "A", "status": "IN_PROGRESS"}})")),
              success);
    // Commands are never refused by this guard.
    EXPECT_EQ(dispatch(json(R"({"commandId": "c1",
                                "workout": {"id": "w3", "name": "B", "status": "COMPLETE"}})"))
                  .at("commandAck"),
              Value("c1"));
}

TEST_F(WorkoutState, FullSnapshotFileIsDispatchedOnlyWhenEveryCheckHolds) {
    files.createDirectories("/inbox");
    auto deliver = [&](const std::string& contents, Value metadataVersion = 2) {
        files.writeAtomically(
            "/inbox/f",
            std::span(reinterpret_cast<const std::uint8_t*>(contents.data()), contents.size()));
        data().didReceiveFile({"/inbox/f",
                               {{"syncPayloadKind", Value("full_snapshot")},
                                {"syncProtocolVersion", metadataVersion},
                                {"syncRevision", Value(4)}}});
        executor.runUntilIdle();
    };
    auto document = [](const char* kind, int version, int revision, int inner) {
        return std::string(R"({"kind": ")") + kind + R"(", "protocolVersion": )" +
               std::to_string(version) + R"(, "revision": )" + std::to_string(revision) +
               R"(, "snapshot": {"syncRevision": )" + std::to_string(inner) +
               R"(, "exercises": [{"id": "f", "name": "F", "status": "NOT_STARTED"}]}})";
    };
    for (const auto& refused :
         {document("full_snapshot", 2, 4, 3), document("full_snapshot", 2, 5, 4),
          document("full_snapshot", 3, 4, 4), document("reference_exercises", 2, 4, 4),
          std::string("not json")}) {
        deliver(refused);
    }
    deliver(document("full_snapshot", 2, 4, 4), "1");
    EXPECT_TRUE(exerciseIds().empty());
    deliver(document("full_snapshot", 2, 4, 4));
    EXPECT_EQ(exerciseIds(), (Ids{"f"}));
    EXPECT_EQ(data().lastSnapshotRevision, 4);
}
