#include "model/keyed_list_delta.hpp"
#include "phone/workout_feed.hpp"
#include "platform/values/json.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>

namespace {

using phone::WorkoutFeed;
using platform::Array;
using platform::Dictionary;
using platform::Value;

Dictionary exercise(std::string id, std::int64_t reps = 5) {
    return {{"id", id}, {"name", "Exercise " + id}, {"reps", reps}};
}

Dictionary workoutOf(std::vector<std::string> ids) {
    Array exercises;
    for (auto& id : ids) {
        exercises.push_back(exercise(id));
    }
    return {{"id", "w1"}, {"name", "Day 1"}, {"status", "IN_PROGRESS"}, {"exercises", exercises}};
}

// The watch's side of a delta, on the dictionaries themselves.
struct Item {
    Value value;
};
std::string_view itemId(const Item& item) {
    return *item.value.find("id")->string();
}

std::vector<std::string> strings(const Value& list) {
    std::vector<std::string> out;
    for (const auto& element : *list.array()) {
        out.push_back(*element.string());
    }
    return out;
}

Array applyDelta(const Array& state, const Dictionary& delta) {
    model::KeyedListDelta<Item> steps;
    for (const auto& update : *delta.at("exerciseUpdates").array()) {
        steps.updates.push_back(Item{update});
    }
    steps.removedIds = strings(delta.at("removedExerciseIds"));
    steps.order = strings(delta.at("exerciseOrder"));
    std::vector<Item> items;
    for (const auto& element : state) {
        items.push_back(Item{element});
    }
    Array result;
    for (auto& item : model::applyKeyedListDelta(std::move(items), steps)) {
        result.push_back(std::move(item.value));
    }
    return result;
}

TEST(WorkoutFeed, SendsOnlySnapshotsUntilTheWatchConfirmsOne) {
    WorkoutFeed feed(workoutOf({"a", "b"}));
    EXPECT_FALSE(feed.delta(1));
    auto snapshot = feed.snapshot(2);
    EXPECT_EQ(snapshot.at("syncRevision"), Value(2.0));
    EXPECT_EQ(snapshot.at("workout"),
              Value(Dictionary{{"id", "w1"}, {"name", "Day 1"}, {"status", "IN_PROGRESS"}}));
    EXPECT_EQ(snapshot.at("exercises").array()->size(), 2u);
    feed.confirm(2);
    ASSERT_TRUE(feed.updateExercise("b", {{"reps", 8}, {"id", "ignored"}}));
    auto delta = feed.delta(3);
    ASSERT_TRUE(delta);
    EXPECT_EQ(delta->at("syncSnapshotKind"), Value("delta"));
    EXPECT_EQ(delta->at("exerciseUpdates"), Value(Array{exercise("b", 8)}));
    EXPECT_EQ(delta->at("removedExerciseIds"), Value(Array{}));
    EXPECT_EQ(delta->at("exerciseOrder"), Value(Array{"a", "b"}));

    feed.forgetConfirmation();
    EXPECT_FALSE(feed.delta(4));
}

TEST(WorkoutFeed, AConfirmationOfAnOlderRevisionDoesNotMoveTheBaseBack) {
    WorkoutFeed feed(workoutOf({"a"}));
    feed.snapshot(1);
    feed.snapshot(2);
    feed.confirm(2);
    feed.confirm(1);
    EXPECT_EQ(feed.confirmedRevision(), 2.0);
}

TEST(WorkoutFeed, RemovesAnExerciseThatOnlyAnUnconfirmedStateHeld) {
    WorkoutFeed feed(workoutOf({"a"}));
    feed.snapshot(1);
    feed.confirm(1);
    ASSERT_TRUE(feed.addExercise(exercise("x")));
    feed.delta(2); // may or may not have reached the watch
    ASSERT_TRUE(feed.removeExercise("x"));
    auto delta = feed.delta(3);
    EXPECT_EQ(delta->at("removedExerciseIds"), Value(Array{"x"}));
    EXPECT_EQ(applyDelta(*feed.sentAt(2), *delta), feed.exercises());
    EXPECT_EQ(applyDelta(*feed.sentAt(1), *delta), feed.exercises());
}

TEST(WorkoutFeed, RefusesEditsThatDoNotFit) {
    WorkoutFeed feed(workoutOf({"a", "b"}));
    EXPECT_FALSE(feed.updateExercise("zz", {{"reps", 1}}));
    EXPECT_FALSE(feed.addExercise(exercise("a")));
    EXPECT_FALSE(feed.addExercise({{"name", "no id"}}));
    EXPECT_FALSE(feed.addExercise({{"id", 7}}));
    EXPECT_FALSE(feed.removeExercise("zz"));
    EXPECT_FALSE(feed.reorder({"a"}));
    EXPECT_FALSE(feed.reorder({"a", "a"}));
    EXPECT_FALSE(feed.reorder({"a", "c"}));
    EXPECT_FALSE(feed.setStatus(""));
    EXPECT_EQ(feed.workout(), workoutOf({"a", "b"}));
}

TEST(WorkoutFeed, TheFileHoldsTheSnapshotWithMatchingRevisions) {
    WorkoutFeed feed(workoutOf({"a"}));
    auto file = feed.snapshotFile(9);
    EXPECT_EQ(file.metadata, (Dictionary{{"syncPayloadKind", "full_snapshot"},
                                         {"syncProtocolVersion", 2},
                                         {"syncRevision", 9.0}}));
    auto document = platform::parseJson(std::string_view(
        reinterpret_cast<const char*>(file.contents.data()), file.contents.size()));
    ASSERT_TRUE(document);
    EXPECT_EQ(*document->find("kind"), Value("full_snapshot"));
    EXPECT_EQ(*document->find("revision"), Value(9.0));
    EXPECT_EQ(*document->find("snapshot")->find("syncRevision"), Value(9.0));
    EXPECT_EQ(feed.sentAt(9), feed.exercises());
}

// Whichever state since the confirmed one the watch holds, the delta brings it to the current
// one: this is what makes lost, repeated and overtaken messages harmless.
RC_GTEST_PROP(WorkoutFeed, ADeltaTurnsEveryStateSinceTheConfirmedOneIntoTheCurrentOne, ()) {
    WorkoutFeed feed(workoutOf({"a", "b", "c"}));
    double revision = 1;
    feed.snapshot(revision);
    feed.confirm(revision);
    std::vector<double> sent{revision};
    auto steps = *rc::gen::inRange(1, 40);
    int nextId = 0;
    for (int step = 0; step < steps; ++step) {
        const auto& current = feed.exercises();
        std::vector<std::string> ids;
        for (const auto& e : current) {
            ids.push_back(*e.find("id")->string());
        }
        switch (*rc::gen::inRange(0, 6)) {
        case 0:
            feed.addExercise(exercise("n" + std::to_string(nextId++)));
            break;
        case 1:
            if (!ids.empty()) {
                feed.removeExercise(*rc::gen::elementOf(ids));
            }
            break;
        case 2:
            if (!ids.empty()) {
                feed.updateExercise(*rc::gen::elementOf(ids), {{"reps", *rc::gen::inRange(0, 3)}});
            }
            break;
        case 3: {
            auto order = ids;
            std::reverse(order.begin(), order.end());
            feed.reorder(order);
            break;
        }
        case 4:
            feed.confirm(*rc::gen::elementOf(sent));
            break;
        default: {
            ++revision;
            auto delta = feed.delta(revision);
            if (!delta) {
                feed.snapshot(revision);
            }
            sent.push_back(revision);
        }
        }
    }
    auto confirmed = feed.confirmedRevision();
    ++revision;
    auto delta = feed.delta(revision);
    RC_ASSERT(delta.has_value());
    for (double r : sent) {
        if (r >= *confirmed) {
            RC_ASSERT(applyDelta(*feed.sentAt(r), *delta) == feed.exercises());
        }
    }
}

} // namespace
