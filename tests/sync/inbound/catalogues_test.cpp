// The available workouts and the plate inventory from the phone: whole lists, keyed deltas, their
// own revisions, and the inventory saved on the rest timer.
#include "support/arbitrary_value.hpp"
#include "sync/inbound/hub_fixture.hpp"
#include "timer/plate_inventory.hpp"
#include "timer/rest_timer_manager.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

using model::Plate;
using platform::Array;
using platform::Dictionary;
using platform::Value;

Dictionary plate(std::string id, Value weight, Value quantity, std::string units = "lb") {
    return {{"id", Value(std::move(id))},
            {"weight", std::move(weight)},
            {"quantity", std::move(quantity)},
            {"units", Value(std::move(units))}};
}

Dictionary workout(std::string id, std::string name = "Day") {
    return {{"id", Value(std::move(id))},
            {"name", Value(std::move(name))},
            {"status", Value("NOT_STARTED")},
            {"week", Value("1")}};
}

Array array(std::vector<Dictionary> dictionaries) {
    Array values;
    for (auto& dictionary : dictionaries) {
        values.emplace_back(std::move(dictionary));
    }
    return values;
}

Array strings(std::vector<std::string> texts) {
    Array values;
    for (auto& text : texts) {
        values.emplace_back(std::move(text));
    }
    return values;
}

class Catalogues : public hubtest::Hub {
protected:
    std::optional<timer::RestTimerManager> restTimer;

    // A fresh program over whatever the stores hold now.
    void start() {
        data.reset();
        restTimer.reset();
        outbox.emplace(executor, session, defaults, log);
        restTimer.emplace(executor, defaults, *outbox, log);
        data.emplace(
            watchsync::WatchDataSource::Services{executor, defaults, files, &session, *outbox, log},
            watchsync::WatchDataSource::Managers{&*restTimer, nullptr, {}, {}, {}});
        executor.runUntilIdle();
    }

    void SetUp() override { start(); }

    std::vector<std::string> plateIds() const {
        std::vector<std::string> ids;
        for (const auto& item : restTimer->availableWeightPlates.get()) {
            ids.push_back(item.id);
        }
        return ids;
    }

    std::vector<std::string> workoutIds() const {
        std::vector<std::string> ids;
        for (const auto& item : data->availableWorkouts.get()) {
            ids.push_back(item.id);
        }
        return ids;
    }

    std::optional<std::vector<Plate>> storedPlates() const {
        auto bytes = defaults.dataForKey(timer::RestTimerManager::availableWeightPlatesKey);
        return bytes ? timer::decodePlateInventory(*bytes) : std::nullopt;
    }

    using Ids = std::vector<std::string>;
};

TEST_F(Catalogues, AWholeInventoryIsConvertedDroppingPlatesWithoutAUsableKey) {
    auto noUnits = plate("x", Value(10), Value(2));
    noUnits.erase("units");
    dispatch({{"weight_plates",
               array({plate("p45", Value(45), Value(2.9)), noUnits,
                      plate("p25", Value("25"), Value(std::int64_t{0}), "kg"),
                      plate("bad", Value("heavy"), Value(2)), plate("nan", Value(NAN), Value(2)),
                      plate("q", Value(5), Value("two")), Dictionary{}})}});
    const std::vector<Plate> expected{{"p45", "lb", 45, 2}, {"p25", "kg", 25, 0}};
    EXPECT_EQ(restTimer->availableWeightPlates.get(), expected);
    EXPECT_EQ(storedPlates(), expected);
    // A list that is not all dictionaries is no list: the inventory stays.
    dispatch({{"weight_plates", Array{Value(plate("z", Value(1), Value(1))), Value("z")}}});
    EXPECT_EQ(restTimer->availableWeightPlates.get(), expected);
}

TEST_F(Catalogues, PlateDeltasReplaceInPlaceAppendRemoveAndReorder) {
    dispatch(
        {{"weight_plates", array({plate("a", Value(45), Value(4)), plate("b", Value(25), Value(2)),
                                  plate("c", Value(10), Value(2))})}});
    dispatch({{"weightPlateUpdates",
               array({plate("b", Value(35), Value(6)), plate("d", Value(5), Value(4)),
                      plate("e", Value(5), Value(4), "")})},
              {"removedWeightPlateIds", strings({"a", "nobody"})}});
    EXPECT_EQ(plateIds(), (Ids{"b", "c", "d", "e"}));
    EXPECT_EQ(restTimer->availableWeightPlates->front(), (Plate{"b", "lb", 35, 6}));
    dispatch({{"weightPlateOrder", strings({"d", "b", "d"})}});
    EXPECT_EQ(plateIds(), (Ids{"d", "b", "c", "e"}));
    EXPECT_EQ(storedPlates(), restTimer->availableWeightPlates.get());
}

TEST_F(Catalogues, PlateRevisionsMustRiseAndARevisionAloneChangesNothing) {
    dispatch({{"weightPlatesRevision", Value(7)},
              {"weight_plates", array({plate("a", Value(45), Value(4))})}});
    EXPECT_EQ(data->lastWeightPlatesRevision, 7);
    dispatch({{"weightPlatesRevision", Value(7)}, {"weight_plates", Array{}}});
    EXPECT_EQ(plateIds(), Ids{"a"});
    dispatch({{"weightPlatesRevision", Value(9)}});
    EXPECT_EQ(data->lastWeightPlatesRevision, 7);
    // Without a revision: applied unchecked, the stored revision kept.
    dispatch({{"weightPlateUpdates", array({plate("b", Value(25), Value(2))})}});
    EXPECT_EQ(plateIds(), (Ids{"a", "b"}));
    EXPECT_EQ(data->lastWeightPlatesRevision, 7);
    dispatch({{"weightPlatesRevision", Value(8)}, {"weight_plates", Array{}}});
    EXPECT_TRUE(restTimer->availableWeightPlates->empty());
    EXPECT_EQ(storedPlates(), std::vector<Plate>{});
}

TEST_F(Catalogues, TheInventorySurvivesARestartButItsRevisionDoesNot) {
    dispatch({{"weightPlatesRevision", Value(8)},
              {"weight_plates", array({plate("a", Value(45), Value(4))})}});
    start();
    EXPECT_EQ(plateIds(), Ids{"a"});
    EXPECT_EQ(data->lastWeightPlatesRevision, std::nullopt);
    dispatch({{"weightPlatesRevision", Value(1)},
              {"weightPlateUpdates", array({plate("b", Value(25), Value(2))})}});
    EXPECT_EQ(plateIds(), (Ids{"a", "b"}));
}

TEST_F(Catalogues, AWholeWorkoutListWinsOverTheDeltaKeysOfTheSameMessage) {
    dispatch({{"availableWorkoutsRevision", Value(1)},
              {"availableWorkouts",
               array({workout("w1"), Dictionary{{"id", Value("nameless")}}, workout("w2")})},
              {"availableWorkoutUpdates", array({workout("w3")})},
              {"removedAvailableWorkoutIds", strings({"w1"})}});
    EXPECT_EQ(workoutIds(), (Ids{"w1", "w2"}));
    EXPECT_EQ(data->lastAvailableWorkoutsRevision, 1);
}

TEST_F(Catalogues, WorkoutDeltasAndAPartialOrder) {
    dispatch({{"availableWorkouts", array({workout("w1"), workout("w2"), workout("w3")})}});
    dispatch({{"availableWorkoutUpdates", array({workout("w2", "Renamed"), workout("w4")})},
              {"availableWorkoutOrder", strings({"w4", "w3"})}});
    EXPECT_EQ(workoutIds(), (Ids{"w4", "w3", "w1", "w2"}));
    EXPECT_EQ(data->availableWorkouts->back().name, "Renamed");
}

TEST_F(Catalogues, WorkoutRevisionsMustRiseAndARevisionAloneChangesNothing) {
    dispatch(
        {{"availableWorkoutsRevision", Value(3)}, {"availableWorkouts", array({workout("w1")})}});
    dispatch({{"availableWorkoutsRevision", Value(5)}});
    EXPECT_EQ(data->lastAvailableWorkoutsRevision, 3);
    dispatch({{"availableWorkoutsRevision", Value(3)}, {"availableWorkouts", Array{}}});
    EXPECT_EQ(workoutIds(), Ids{"w1"});
    dispatch(
        {{"availableWorkoutsRevision", Value(4)}, {"removedAvailableWorkoutIds", strings({"w1"})}});
    EXPECT_TRUE(data->availableWorkouts->empty());
    EXPECT_EQ(data->lastAvailableWorkoutsRevision, 4);
}

// A binary property list can carry an infinite or NaN revision; taken as is, infinity would shut
// out every later delivery for good. Such a revision counts as absent: the message is applied
// unchecked and the next real revision still gets through.
TEST_F(Catalogues, ANonFiniteRevisionCountsAsAbsent) {
    struct Case {
        std::string key;
        std::function<Dictionary(std::string id)> change;
        std::function<bool(const std::string& id)> holds;
    };
    const std::vector<Case> cases{
        {"availableWorkoutsRevision",
         [](std::string id) {
             return Dictionary{{"availableWorkouts", array({workout(id)})}};
         },
         [&](const std::string& id) { return workoutIds() == Ids{id}; }},
        {"weightPlatesRevision",
         [](std::string id) {
             return Dictionary{{"weight_plates", array({plate(id, Value(45), Value(2))})}};
         },
         [&](const std::string& id) { return plateIds() == Ids{id}; }},
        {"syncRevision",
         [](std::string id) {
             return Dictionary{
                 {"workout", Dictionary{{"id", id}, {"name", "A"}, {"status", "NOT_STARTED"}}}};
         },
         [&](const std::string& id) { return data->workoutId.get() == id; }},
    };
    for (const auto& c : cases) {
        for (double hostile : {INFINITY, -INFINITY, NAN}) {
            start();
            auto message = c.change("hostile");
            message.insert_or_assign(c.key, Value(hostile));
            dispatch(message);
            EXPECT_TRUE(c.holds("hostile")) << c.key << " " << hostile;
            auto next = c.change("next");
            next.insert_or_assign(c.key, Value(1));
            dispatch(next);
            EXPECT_TRUE(c.holds("next")) << c.key << " " << hostile;
        }
    }
    start();
    dispatch({{"syncRevision", Value(INFINITY)}, {"syncSnapshotKind", Value("delta")}});
    dispatch({{"syncRevision", Value(2)}, {"syncSnapshotKind", Value("delta")}});
    EXPECT_EQ(data->lastDeltaRevision, 2) << "a delta after an infinite one";
}

TEST_F(Catalogues, TheWorkoutListChangesAfterTheMessageThatCarriesIt) {
    std::vector<std::size_t> sizesSeenDuringTheMessage;
    auto watch = data->exercises.observe(
        [&](const auto&) { sizesSeenDuringTheMessage.push_back(data->availableWorkouts->size()); });
    dispatch({{"availableWorkouts", array({workout("w1")})}, {"exercises", Array{}}});
    EXPECT_EQ(sizesSeenDuringTheMessage, std::vector<std::size_t>{0});
    EXPECT_EQ(workoutIds(), Ids{"w1"});
}

TEST(CataloguesWithoutTimer, PlatesAreIgnoredWhenThereIsNoRestTimer) {
    struct Bare : hubtest::Hub {
        using Hub::dispatch;
        using Hub::SetUp;
        void TestBody() override {}
    } hub;
    hub.SetUp();
    // Nothing to keep them in; the message is still answered.
    Dictionary reply = hub.dispatch({{"weight_plates", array({plate("a", Value(45), Value(4))})}});
    EXPECT_EQ(reply, (Dictionary{{"status", Value("Success")}}));
}

RC_GTEST_PROP(CatalogueProperties, AnyCatalogueKeysNeverBreakTheHubAndTheInventoryStaysStored, ()) {
    const std::vector<std::string> keys{"availableWorkoutsRevision",
                                        "availableWorkouts",
                                        "availableWorkoutUpdates",
                                        "removedAvailableWorkoutIds",
                                        "availableWorkoutOrder",
                                        "weightPlatesRevision",
                                        "weight_plates",
                                        "weightPlateUpdates",
                                        "removedWeightPlateIds",
                                        "weightPlateOrder"};
    struct Program : Catalogues {
        using Catalogues::dispatch;
        using Catalogues::restTimer;
        using Catalogues::SetUp;
        using Catalogues::storedPlates;
        void TestBody() override {}
    } program;
    program.SetUp();
    const auto messages = *rc::gen::container<std::vector<Dictionary>>(
        rc::gen::map(rc::gen::container<std::vector<std::pair<std::string, Value>>>(rc::gen::pair(
                         rc::gen::elementOf(keys), testsupport::arbitraryValue(2, false))),
                     [](std::vector<std::pair<std::string, Value>> entries) {
                         Dictionary message;
                         for (auto& [key, value] : entries) {
                             message.insert_or_assign(std::move(key), std::move(value));
                         }
                         return message;
                     }));
    for (const auto& message : messages) {
        program.dispatch(message);
        for (const auto& item : program.restTimer->availableWeightPlates.get()) {
            RC_ASSERT(std::isfinite(item.plateWeight));
        }
        const auto stored = program.storedPlates();
        RC_ASSERT(!stored || *stored == program.restTimer->availableWeightPlates.get());
    }
}

} // namespace
