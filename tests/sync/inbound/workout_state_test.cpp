#include "platform/values/json.hpp"
#include "sync/inbound/hub_fixture.hpp"

#include <gtest/gtest.h>

using hubtest::Hub;
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

Dictionary refused(double revision) {
    return Dictionary{{"status", Value("Success")}, {"syncRevision", Value(revision)}};
}

Dictionary exercise(const std::string& id) {
    return Dictionary{
        {"id", Value(id)}, {"name", Value("Exercise " + id)}, {"status", Value("NOT_STARTED")}};
}

Array exerciseList(std::initializer_list<const char*> ids) {
    Array list;
    for (const auto* id : ids) {
        list.emplace_back(exercise(id));
    }
    return list;
}

class WorkoutState : public Hub {
protected:
    std::vector<std::string> exerciseIds() {
        std::vector<std::string> ids;
        for (const auto& e : data->exercises.get()) {
            ids.push_back(e->id);
        }
        return ids;
    }
};

using Ids = std::vector<std::string>;
const Dictionary success{{"status", Value("Success")}};

} // namespace

TEST_F(WorkoutState, RevisionsOfSnapshotsAndDeltasOnlyMoveForward) {
    EXPECT_EQ(dispatch(revisioned(5, false)), success);
    EXPECT_EQ(dispatch(revisioned(5, true)), refused(5));
    EXPECT_EQ(dispatch(revisioned(6, true)), success);
    // Past the last snapshot, a delta is refused by the last delta's revision alone.
    EXPECT_EQ(dispatch(revisioned(6, true)), refused(6));
    // A snapshot at the revision of the last delta is accepted; again, it is not.
    EXPECT_EQ(dispatch(revisioned(6, false)), success);
    EXPECT_EQ(dispatch(revisioned(6, false)), refused(6));
    EXPECT_EQ(dispatch(revisioned(6, true)), refused(6));
    EXPECT_EQ(data->lastSnapshotRevision, 6);
    EXPECT_EQ(data->lastDeltaRevision, 6);
}

TEST_F(WorkoutState, SnapshotOlderThanTheLastDeltaIsRefused) {
    EXPECT_EQ(dispatch(revisioned(10, true)), success);
    EXPECT_EQ(dispatch(revisioned(9, false)), refused(9));
    EXPECT_EQ(dispatch(revisioned(10, false)), success);
}

TEST_F(WorkoutState, RefusedMessageChangesNothing) {
    dispatch(revisioned(3, false, {{"exercises", Value(exerciseList({"a"}))}}));
    dispatch(revisioned(2, false, {{"exercises", Value(exerciseList({"b"}))}}));
    EXPECT_EQ(exerciseIds(), (Ids{"a"}));
    // Without a revision a message is always applied and moves no revision.
    EXPECT_EQ(dispatch({{"exercises", Value(exerciseList({"c"}))}}), success);
    EXPECT_EQ(exerciseIds(), (Ids{"c"}));
    EXPECT_EQ(data->lastSnapshotRevision, 3);
}

TEST_F(WorkoutState, HeaderSetsTheWorkoutAndABrokenOneSetsTheError) {
    dispatch(json(R"({"workout": {"id": "w1", "name": "Day A", "status": "IN_PROGRESS"}})"));
    EXPECT_EQ(data->workoutId.get(), "w1");
    EXPECT_EQ(data->name.get(), "Day A");
    EXPECT_EQ(data->workoutStatus.get(), "IN_PROGRESS");
    EXPECT_TRUE(data->hasAppliedWorkoutSnapshot);

    dispatch(json(R"({"workout": {"id": "w2", "status": "IN_PROGRESS"}})"));
    EXPECT_EQ(data->workoutId.get(), "w1");
    EXPECT_EQ(data->syncWorkoutError.get(), "Error getting workout info from iPhone");

    dispatch(json(R"({"error": 5, "workout": "not a dictionary"})"));
    EXPECT_EQ(data->syncWorkoutError.get(), "");
    EXPECT_EQ(data->workoutId.get(), "w1");
    dispatch(json(R"({"error": "The phone is busy"})"));
    EXPECT_EQ(data->syncWorkoutError.get(), "The phone is busy");
}

TEST_F(WorkoutState, DeltaReplacesInPlaceAppendsRemovesAndOrders) {
    dispatch({{"exercises", Value(exerciseList({"a", "b", "c", "d"}))}});
    auto replacedB = exercise("b");
    replacedB.insert_or_assign("name", Value("Renamed"));
    dispatch({{"exerciseUpdates", Value(Array{Value(replacedB), Value(exercise("e"))})}});
    EXPECT_EQ(exerciseIds(), (Ids{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(data->exercises->at(1)->name, "Renamed");

    dispatch(json(R"({"removedExerciseIds": ["a"], "exerciseOrder": ["c", "b"]})"));
    EXPECT_EQ(exerciseIds(), (Ids{"c", "b", "d", "e"}));
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

TEST_F(WorkoutState, PhoneStillRunningAWorkoutTheWatchEndedIsRefusedWithRetry) {
    session.state = platform::ActivationState::notActivated; // the end stays queued
    outbox->enqueue(json(R"({"type": "complete_workout", "payload": {"workoutId": "w1"}})"));
    auto reply =
        dispatch(json(R"({"workout": {"id": "w1", "name": "A", "status": "IN_PROGRESS"}})"));
    EXPECT_EQ(reply, (Dictionary{{"status", Value("Retry")}}));
    EXPECT_EQ(data->workoutId.get(), "");
    EXPECT_EQ(queuedTypes(), (std::vector<std::string>{"complete_workout", "refresh_data"}));
}

TEST_F(WorkoutState, UnacknowledgedStartGuardsTheLocalRunningWorkout) {
    dispatch(json(R"({"workout": {"id": "w1", "name": "A", "status": "IN_PROGRESS"}})"));
    session.state = platform::ActivationState::notActivated;
    outbox->enqueue(json(R"({"type": "start_workout", "payload": {"id": "w1"}})"));
    EXPECT_EQ(dispatch(json(R"({"workout": {"id": "w1", "name": "A", "status": "IN_PROGRESS"}})")),
              success);
    EXPECT_EQ(dispatch(json(R"({"workout": {"id": "w2", "name": "B", "status": "IN_PROGRESS"}})")),
              (Dictionary{{"status", Value("Retry")}}));
    EXPECT_EQ(dispatch(json(R"({"workout": {"id": "w1", "name": "A", "status": "COMPLETE"}})")),
              (Dictionary{{"status", Value("Retry")}}));
    EXPECT_EQ(data->workoutStatus.get(), "IN_PROGRESS");
    // Commands are never refused by this guard.
    EXPECT_EQ(
        dispatch(
            json(
                R"({"commandId": "c1", "workout": {"id": "w2", "name": "B", "status": "COMPLETE"}})"))
            .at("commandAck"),
        Value("c1"));
}

TEST_F(WorkoutState, FullSnapshotFileIsDispatchedOnlyWhenEveryCheckHolds) {
    files.createDirectories("/inbox");
    auto deliver = [&](const std::string& contents, Dictionary metadata) {
        files.writeAtomically(
            "/inbox/f",
            std::span(reinterpret_cast<const std::uint8_t*>(contents.data()), contents.size()));
        data->didReceiveFile(platform::ReceivedFile{"/inbox/f", std::move(metadata)});
        executor.runUntilIdle();
    };
    Dictionary metadata{{"syncPayloadKind", Value("full_snapshot")},
                        {"syncProtocolVersion", Value(2)},
                        {"syncRevision", Value(4)}};
    auto document = [](const char* kind, int version, int revision, int inner) {
        return std::string(R"({"kind": ")") + kind + R"(", "protocolVersion": )" +
               std::to_string(version) + R"(, "revision": )" + std::to_string(revision) +
               R"(, "snapshot": {"syncRevision": )" + std::to_string(inner) +
               R"(, "exercises": [{"id": "f", "name": "F", "status": "NOT_STARTED"}]}})";
    };
    deliver(document("full_snapshot", 2, 4, 3), metadata);
    deliver(document("full_snapshot", 2, 5, 4), metadata);
    deliver(document("full_snapshot", 3, 4, 4), metadata);
    deliver(document("reference_exercises", 2, 4, 4), metadata);
    deliver("not json", metadata);
    auto wrongVersion = metadata;
    wrongVersion.insert_or_assign("syncProtocolVersion", Value("1"));
    deliver(document("full_snapshot", 2, 4, 4), wrongVersion);
    EXPECT_TRUE(exerciseIds().empty());

    deliver(document("full_snapshot", 2, 4, 4), metadata);
    EXPECT_EQ(exerciseIds(), (Ids{"f"}));
    EXPECT_EQ(data->lastSnapshotRevision, 4);
}
