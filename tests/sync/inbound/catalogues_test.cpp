// The phone's catalogues on the watch: the plate inventory (kept by the rest timer), the
// available workouts and the exercise catalogue (kept in a file): whole lists, keyed deltas and
// revisions that must rise.
#include "model/conversions.hpp"
#include "model/reference_exercise.hpp"
#include "platform/values/json.hpp"
#include "support/arbitrary_value.hpp"
#include "support/watch_core_fixture.hpp"
#include "support/workout_builders.hpp"
#include "timer/plate_inventory.hpp"

#include <rapidcheck/gtest.h>

#include <cmath>

namespace {

using model::Plate;
using platform::Array;
using platform::Dictionary;
using platform::Value;
using testsupport::listOf;
using testsupport::phoneWorkout;
using testsupport::stringsOf;
using Ids = std::vector<std::string>;

Dictionary plate(std::string id, Value weight, Value quantity = 2) {
    return {{"id", std::move(id)},
            {"weight", std::move(weight)},
            {"quantity", quantity},
            {"units", "lb"}};
}

Value entries(const Ids& ids) {
    Array list;
    for (const auto& id : ids) {
        list.emplace_back(Dictionary{{"id", id}, {"name", "Name " + id}});
    }
    return list;
}

std::string document(int revision, const Ids& ids, int version = 2) {
    return R"({"kind":"reference_exercises","protocolVersion":)" + std::to_string(version) +
           R"(,"revision":)" + std::to_string(revision) + R"(,"items":)" +
           platform::toJsonText(entries(ids)) + "}";
}

platform::Data bytesOf(const std::string& text) {
    return platform::Data(text.begin(), text.end());
}

Dictionary fileMetadata(Value revision) {
    return {{"syncPayloadKind", "reference_exercises"},
            {"syncProtocolVersion", 2},
            {"referenceExercisesRevision", std::move(revision)}};
}

class Catalogues : public testsupport::WatchCoreTest {
protected:
    const std::filesystem::path catalogueFile =
        files.applicationSupportDirectory() / "watch-reference-exercises-v2.json";

    void send(Dictionary message) { dispatch(std::move(message)); }

    template <class List> static Ids idsOf(const List& list) {
        Ids ids;
        for (const auto& item : list) {
            if constexpr (requires { item->id; }) {
                ids.push_back(item->id);
            } else {
                ids.push_back(item.id);
            }
        }
        return ids;
    }
    Ids plateIds() { return idsOf(restTimer().availableWeightPlates.get()); }
    Ids workoutIds() { return idsOf(data().availableWorkouts.get()); }
    Ids catalogueIds() { return idsOf(data().referenceExercises.get()); }

    std::optional<std::vector<Plate>> storedPlates() const {
        auto bytes = defaults.dataForKey("availableWeightPlates");
        return bytes ? timer::decodePlateInventory(*bytes) : std::nullopt;
    }

    std::optional<std::string> fileContents() const {
        auto bytes = files.read(catalogueFile);
        return bytes ? std::optional(std::string(bytes->begin(), bytes->end())) : std::nullopt;
    }

    // A restart with an empty outbox; what the new program asks the phone for.
    Ids restart() {
        defaults.removeObject(watchsync::WatchSyncOutbox::storageKey);
        launch();
        return sentTypes();
    }

    void transfer(const std::string& contents, Dictionary metadata) {
        files.createDirectories("/inbox");
        files.writeAtomically("/inbox/catalogue", bytesOf(contents));
        data().didReceiveFile({"/inbox/catalogue", std::move(metadata)});
        files.remove("/inbox/catalogue"); // gone after the callback
        executor.runUntilIdle();
    }
};

TEST_F(Catalogues, ThePlateInventoryIsConvertedStoredAndChangedByDeltas) {
    auto noUnits = plate("x", 10);
    noUnits.erase("units");
    send({{"weightPlatesRevision", 7},
          {"weight_plates",
           listOf({plate("p45", 45, 2.9), noUnits, plate("p25", "25", 0), plate("bad", "heavy"),
                   plate("nan", NAN), plate("q", 5, "two"), Dictionary{}})}});
    const std::vector<Plate> expected{{"p45", "lb", 45, 2}, {"p25", "lb", 25, 0}};
    EXPECT_EQ(restTimer().availableWeightPlates.get(), expected);
    EXPECT_EQ(storedPlates(), expected);
    // The same revision again, a revision alone and a list with a non-dictionary change nothing.
    send({{"weightPlatesRevision", 7}, {"weight_plates", Array{}}});
    send({{"weightPlatesRevision", 9}});
    send({{"weight_plates", Array{Value(plate("z", 1)), Value("z")}}});
    EXPECT_EQ(plateIds(), (Ids{"p45", "p25"}));
    EXPECT_EQ(data().lastWeightPlatesRevision, 7);

    // Without a revision a delta is applied unchecked.
    send({{"weightPlateUpdates", listOf({plate("p25", 35), plate("d", 5)})},
          {"removedWeightPlateIds", stringsOf({"p45"})},
          {"weightPlateOrder", stringsOf({"d"})}});
    EXPECT_EQ(plateIds(), (Ids{"d", "p25"}));
    EXPECT_EQ(storedPlates(), restTimer().availableWeightPlates.get());
}

TEST_F(Catalogues, AvailableWorkoutsFollowWholeListsDeltasAndRisingRevisions) {
    std::vector<std::size_t> sizesDuringTheMessage;
    auto watch = data().exercises.observe(
        [&](const auto&) { sizesDuringTheMessage.push_back(data().availableWorkouts->size()); });
    send({{"availableWorkoutsRevision", 1},
          {"availableWorkouts",
           listOf(
               {phoneWorkout("w1"), {{"id", "nameless"}}, phoneWorkout("w2"), phoneWorkout("w3")})},
          {"availableWorkoutUpdates", listOf({phoneWorkout("w9")})},
          {"exercises", Array{}}});
    EXPECT_EQ(workoutIds(), (Ids{"w1", "w2", "w3"})) << "the whole list wins over the delta";
    EXPECT_EQ(sizesDuringTheMessage, std::vector<std::size_t>{0}) << "changed after the message";

    send({{"availableWorkoutsRevision", 1}, {"availableWorkouts", Array{}}});
    send({{"availableWorkoutsRevision", 5}});
    EXPECT_EQ(data().lastAvailableWorkoutsRevision, 1);
    send({{"availableWorkoutsRevision", 2}, {"removedAvailableWorkoutIds", stringsOf({"w1"})}});
    EXPECT_EQ(workoutIds(), (Ids{"w2", "w3"}));
}

// Infinity taken as a revision would shut out every later delivery for good: a non-finite
// revision counts as absent, and the next real one still gets through.
TEST_F(Catalogues, ANonFiniteRevisionCountsAsAbsent) {
    using Make = std::function<Value(std::string)>;
    const std::vector<std::tuple<std::string, std::string, Make, std::function<Ids()>>> cases{
        {"availableWorkoutsRevision", "availableWorkouts",
         [](std::string id) { return Value(listOf({phoneWorkout(id)})); },
         [&] { return workoutIds(); }},
        {"weightPlatesRevision", "weight_plates",
         [](std::string id) { return Value(listOf({plate(id, 45)})); }, [&] { return plateIds(); }},
        {"referenceExercisesRevision", "reference_exercises",
         [](std::string id) { return entries({id}); }, [&] { return catalogueIds(); }},
        {"syncRevision", "workout",
         [](std::string id) { return Value(testsupport::phoneHeader(id, "NOT_STARTED")); },
         [&] { return Ids{data().workoutId.get()}; }},
    };
    int revision = 0;
    for (const auto& [key, list, make, ids] : cases) {
        for (Value hostile : {Value(INFINITY), Value(-INFINITY), Value(NAN), Value("inf")}) {
            send({{list, make("hostile")}, {key, hostile}});
            EXPECT_EQ(ids(), Ids{"hostile"}) << key;
            send({{list, make("next")}, {key, ++revision}});
            EXPECT_EQ(ids(), Ids{"next"}) << key;
        }
    }
    send({{"syncRevision", INFINITY}, {"syncSnapshotKind", "delta"}});
    send({{"syncRevision", ++revision}, {"syncSnapshotKind", "delta"}});
    EXPECT_EQ(data().lastDeltaRevision, revision) << "a delta after an infinite one";
}

RC_GTEST_PROP(ReferenceExerciseDecoding, AnyDictionaryDecodesOrLacksAUsableIdOrName, ()) {
    auto dictionary = *testsupport::arbitraryDictionary(3, false);
    auto decoded = model::decodeReferenceExercise(dictionary);
    const auto* id = model::asString(model::lookup(dictionary, "id"));
    const auto* name = model::asString(model::lookup(dictionary, "name"));
    RC_ASSERT(decoded.has_value() ==
              (id != nullptr && name != nullptr && !id->empty() && !name->empty()));
    RC_ASSERT(!decoded || std::isfinite(decoded->barbell.weight));
}

TEST_F(Catalogues, AWholeCatalogueWithARevisionIsAppliedOnceAndWrittenToItsFile) {
    send({{"reference_exercises", entries({"a", "b"})}, {"referenceExercisesRevision", 5}});
    EXPECT_EQ(catalogueIds(), (Ids{"a", "b"}));
    EXPECT_EQ(data().persistedReferenceExercisesRevision, 5);
    auto stored = platform::parseJson(fileContents().value_or(""));
    ASSERT_TRUE(stored && stored->dictionary());
    EXPECT_EQ(stored->dictionary()->at("items"), entries({"a", "b"}));

    send({{"reference_exercises", entries({"c"})}, {"referenceExercisesRevision", 5}});
    send({{"referenceExercisesRevision", 9}});
    EXPECT_EQ(catalogueIds(), (Ids{"a", "b"}));

    // A delta stays in memory; the next start loads the file and asks for what it lacks.
    send({{"referenceExerciseUpdates", entries({"x"})},
          {"removedReferenceExerciseIds", stringsOf({"a"})},
          {"referenceExercisesRevision", 6}});
    EXPECT_EQ(catalogueIds(), (Ids{"b", "x"}));
    EXPECT_EQ(data().persistedReferenceExercisesRevision, 5);
    EXPECT_TRUE(restart().empty());
    EXPECT_EQ(catalogueIds(), (Ids{"a", "b"}));
    data().didReceiveApplicationContext({{"referenceExercisesRevision", 5}});
    executor.runUntilIdle();
    EXPECT_TRUE(sentTypes().empty());
    data().didReceiveApplicationContext({{"referenceExercisesRevision", "6"}});
    executor.runUntilIdle();
    EXPECT_EQ(sentTypes(), Ids{"refresh_data"});

    // A list that has no JSON form (a date) is applied but not written.
    auto dated = *entries({"d"}).array();
    dated[0].get<Dictionary>()->insert_or_assign("addedOn", platform::Date{1});
    send({{"reference_exercises", dated}, {"referenceExercisesRevision", 7}});
    EXPECT_EQ(catalogueIds(), (Ids{"d"}));
    EXPECT_EQ(data().persistedReferenceExercisesRevision, 5);
}

TEST_F(Catalogues, ATransferredCatalogueFileIsCheckedAgainstItsMetadataAndTheRevisions) {
    files.createDirectories(files.applicationSupportDirectory());
    files.writeAtomically(catalogueFile, bytesOf(document(4, {"old"})));
    restart();
    send({{"referenceExerciseUpdates", entries({"m"})}, {"referenceExercisesRevision", 5}});
    transfer(document(5, {"f"}), fileMetadata(6)); // the metadata names another revision
    EXPECT_EQ(catalogueIds(), (Ids{"old", "m"}));
    EXPECT_EQ(fileContents(), document(4, {"old"}));

    // At the revision in memory but newer than the file: taken byte for byte.
    const auto received = document(5, {"f", "g"}) + "\n";
    transfer(received, fileMetadata("5"));
    EXPECT_EQ(catalogueIds(), (Ids{"f", "g"}));
    EXPECT_EQ(fileContents(), received);
    transfer(document(5, {"h"}), fileMetadata(5));
    EXPECT_EQ(catalogueIds(), (Ids{"f", "g"})) << "not newer than the file";
}

TEST_F(Catalogues, AFailedWriteIsLoggedAndTheCatalogueAskedForAgain) {
    files.failWrites("disk full");
    send({{"reference_exercises", entries({"a"})}, {"referenceExercisesRevision", 5}});
    EXPECT_EQ(catalogueIds(), (Ids{"a"}));
    EXPECT_EQ(data().persistedReferenceExercisesRevision, std::nullopt);
    files.clearFailures();
    data().didReceiveApplicationContext({{"referenceExercisesRevision", 5}});
    executor.runUntilIdle();
    EXPECT_EQ(sentTypes(), Ids{"refresh_data"});
}

TEST_F(Catalogues, ADamagedFileAtStartLeavesAnEmptyCatalogueAndAsksForFreshData) {
    files.createDirectories(files.applicationSupportDirectory());
    for (const std::string& contents :
         {std::string("not json"), document(3, {"a"}, 3),
          std::string(R"({"kind":"reference_exercises","protocolVersion":2,"revision":"1e999",)"
                      R"("items":[]})")}) {
        files.writeAtomically(catalogueFile, bytesOf(contents));
        EXPECT_EQ(restart(), Ids{"refresh_data"}) << contents;
        EXPECT_TRUE(data().referenceExercises->empty());
        EXPECT_EQ(data().persistedReferenceExercisesRevision, std::nullopt);
    }
}

RC_GTEST_PROP(CatalogueProperties, AnyCatalogueMessageOrFileLeavesUsableStoredState, ()) {
    struct Program : Catalogues {
        void TestBody() override {}
        using Catalogues::data, Catalogues::dispatch, Catalogues::executor, Catalogues::launch,
            Catalogues::restTimer, Catalogues::storedPlates, Catalogues::transfer;
    } program;
    program.launch();
    const std::vector<std::string> keys{"availableWorkoutsRevision",
                                        "availableWorkouts",
                                        "availableWorkoutUpdates",
                                        "removedAvailableWorkoutIds",
                                        "availableWorkoutOrder",
                                        "weightPlatesRevision",
                                        "weight_plates",
                                        "weightPlateUpdates",
                                        "removedWeightPlateIds",
                                        "weightPlateOrder",
                                        "reference_exercises",
                                        "referenceExerciseUpdates",
                                        "removedReferenceExerciseIds",
                                        "referenceExerciseOrder",
                                        "referenceExercisesRevision"};
    for (int round = 0; round < 3; ++round) {
        Dictionary message;
        for (const auto& key : keys) {
            if (*rc::gen::inRange(0, 3) == 0) {
                message[key] = *testsupport::arbitraryValue(2, false);
            }
        }
        program.dispatch(message);
        for (const auto& item : program.restTimer().availableWeightPlates.get()) {
            RC_ASSERT(std::isfinite(item.plateWeight));
        }
        const auto stored = program.storedPlates();
        RC_ASSERT(!stored || *stored == program.restTimer().availableWeightPlates.get());
    }
    program.transfer(
        platform::toJsonText(Value(Dictionary{{"kind", "reference_exercises"},
                                              {"protocolVersion", 2},
                                              {"revision", 1e9},
                                              {"items", *testsupport::arbitraryValue(3, false)}})),
        fileMetadata(1e9));
    const auto persisted = program.data().persistedReferenceExercisesRevision;
    // Whatever was written reads back at the next start.
    program.launch();
    RC_ASSERT(program.data().persistedReferenceExercisesRevision == persisted);
}

} // namespace
