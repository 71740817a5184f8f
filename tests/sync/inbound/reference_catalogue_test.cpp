#include "hub_fixture.hpp"
#include "model/conversions.hpp"
#include "model/reference_exercise.hpp"
#include "platform/values/json.hpp"
#include "support/arbitrary_value.hpp"

#include <rapidcheck/gtest.h>

#include <cmath>

namespace hubtest {
namespace {

using Ids = std::vector<std::string>;

const std::filesystem::path catalogueFile =
    platform::MemoryFileSystem().applicationSupportDirectory() /
    "watch-reference-exercises-v2.json";

Dictionary entry(const std::string& id) {
    return Dictionary{{"id", Value(id)}, {"name", Value("Name " + id)}};
}

Value entries(const Ids& ids) {
    platform::Array list;
    for (const auto& id : ids) {
        list.emplace_back(entry(id));
    }
    return Value(std::move(list));
}

Value strings(const Ids& ids) {
    return Value(platform::Array(ids.begin(), ids.end()));
}

std::string document(int revision, const Ids& ids, int version = 2) {
    return R"({"kind":"reference_exercises","protocolVersion":)" + std::to_string(version) +
           R"(,"revision":)" + std::to_string(revision) + R"(,"items":)" +
           platform::toJsonText(entries(ids)) + "}";
}

platform::Data bytesOf(const std::string& text) {
    return platform::Data(text.begin(), text.end());
}

class ReferenceCatalogue : public Hub {
protected:
    void SetUp() override {
        // The outbox holds every request; the phone never answers here.
        session.state = platform::ActivationState::notActivated;
        files.createDirectories(files.applicationSupportDirectory());
        start();
    }

    Ids catalogueIds() const {
        Ids ids;
        for (const auto& exercise : data->referenceExercises.get()) {
            ids.push_back(exercise->id);
        }
        return ids;
    }

    std::optional<std::string> fileContents() const {
        auto bytes = files.read(catalogueFile);
        return bytes ? std::optional(std::string(bytes->begin(), bytes->end())) : std::nullopt;
    }

    void writeCatalogueFile(const std::string& text) {
        files.writeAtomically(catalogueFile, bytesOf(text));
    }

    // The requests waiting after the restart; the phone takes the earlier ones first.
    Ids restart() {
        for (const auto& pending : outbox->pendingMessages()) {
            outbox->handleAck(pending.id, "Success");
        }
        executor.runUntilIdle();
        data.reset();
        start();
        executor.runUntilIdle();
        return queuedTypes();
    }

    void transfer(const std::string& contents, Dictionary metadata) {
        files.createDirectories("/inbox");
        files.writeAtomically("/inbox/catalogue", bytesOf(contents));
        data->didReceiveFile(platform::ReceivedFile{"/inbox/catalogue", std::move(metadata)});
        // The transferred file is gone after the callback.
        files.remove("/inbox/catalogue");
        executor.runUntilIdle();
    }

    static Dictionary metadata(Value revision) {
        return Dictionary{{"syncPayloadKind", Value("reference_exercises")},
                          {"syncProtocolVersion", Value(2)},
                          {"referenceExercisesRevision", std::move(revision)}};
    }
};

TEST(ReferenceExerciseDecoding, MissingFieldsTakeTheirDefaults) {
    auto bare = model::decodeReferenceExercise(entry("a"));
    ASSERT_TRUE(bare);
    EXPECT_TRUE(bare->isReps);
    EXPECT_TRUE(bare->isWeight);
    EXPECT_FALSE(bare->isDuration || bare->isDistance || bare->isRepsInReserve ||
                 bare->isRatePerceivedExertion || bare->isBand || bare->isRecent);
    EXPECT_EQ(bare->weightUnits, "lb");
    EXPECT_EQ(bare->equipment, "Barbell");
    EXPECT_EQ(bare->restTimer, (model::RestTimerOptions{std::nullopt, 120, 120, 120}));
    EXPECT_EQ(bare->barbell, (model::Barbell{"Olympic Bar", 45.0, "lb"}));

    auto kg = entry("k");
    kg["weightUnits"] = Value("kg");
    EXPECT_EQ(model::decodeReferenceExercise(kg)->barbell,
              (model::Barbell{"Olympic Bar", 20.0, "kg"}));
    kg["barbell"] = Value(Dictionary{{"name", Value("Trap Bar")}, {"units", Value("lb")}});
    EXPECT_EQ(model::decodeReferenceExercise(kg)->barbell,
              (model::Barbell{"Olympic Bar", 20.0, "kg"}));
    // Any other text than "kg" is a pound bar, even "KG".
    kg["weightUnits"] = Value("KG");
    EXPECT_EQ(model::decodeReferenceExercise(kg)->barbell.weight, 45.0);

    auto wrongTypes = entry("w");
    wrongTypes["isReps"] = Value("yes");
    wrongTypes["isBand"] = Value(true);
    wrongTypes["equipment"] = Value(3);
    wrongTypes["weightUnits"] = Value(false);
    auto decoded = model::decodeReferenceExercise(wrongTypes);
    EXPECT_TRUE(decoded->isReps);
    EXPECT_TRUE(decoded->isBand);
    EXPECT_EQ(decoded->equipment, "Barbell");
    EXPECT_EQ(decoded->weightUnits, "lb");
}

TEST(ReferenceExerciseDecoding, RestTimesAndBarAreReadFromNestedOrJsonText) {
    auto exercise = entry("a");
    exercise["restTimer"] = Value(R"({"warmup": 60, "t1": "90", "assistance": 75.9})");
    exercise["barbell"] = Value(Dictionary{{"weight", Value("15")}, {"weightUnits", Value("kg")}});
    auto decoded = model::decodeReferenceExercise(exercise);
    EXPECT_EQ(decoded->restTimer, (model::RestTimerOptions{60, 90, 120, 75}));
    EXPECT_EQ(decoded->barbell, (model::Barbell{"Olympic Bar", 15.0, "kg"}));

    // "t1" stands in only for an absent "T1".
    exercise["restTimer"] =
        Value(Dictionary{{"T1", Value(100)}, {"t1", Value(90)}, {"warmup", Value("soon")}});
    decoded = model::decodeReferenceExercise(exercise);
    EXPECT_EQ(decoded->restTimer.T1, 100);
    EXPECT_EQ(decoded->restTimer.warmup, std::nullopt);

    exercise["barbell"] = Value(Dictionary{{"weight", Value("inf")}, {"name", Value("Odd")}});
    EXPECT_EQ(model::decodeReferenceExercise(exercise)->barbell,
              (model::Barbell{"Olympic Bar", 45.0, "lb"}));
}

TEST(ReferenceExerciseDecoding, EntriesWithoutTextIdOrNameAreRejected) {
    EXPECT_FALSE(model::decodeReferenceExercise({{"id", Value("a")}}));
    EXPECT_FALSE(model::decodeReferenceExercise({{"name", Value("A")}}));
    EXPECT_FALSE(model::decodeReferenceExercise({{"id", Value(1)}, {"name", Value("A")}}));
}

RC_GTEST_PROP(ReferenceExerciseDecoding, AnyDictionaryDecodesOrIsRejectedByItsIdAndName, ()) {
    auto dictionary = *testsupport::arbitraryDictionary(3, false);
    auto decoded = model::decodeReferenceExercise(dictionary);
    const auto* id = model::asString(model::lookup(dictionary, "id"));
    const auto* name = model::asString(model::lookup(dictionary, "name"));
    RC_ASSERT(decoded.has_value() == (id != nullptr && name != nullptr));
    if (decoded) {
        RC_ASSERT(decoded->id == *id);
        RC_ASSERT(std::isfinite(decoded->barbell.weight));
    }
}

TEST_F(ReferenceCatalogue, WholeListWithARevisionIsAppliedOnceAndWritten) {
    dispatch(
        {{"reference_exercises", entries({"a", "b"})}, {"referenceExercisesRevision", Value(5)}});
    EXPECT_EQ(catalogueIds(), (Ids{"a", "b"}));
    EXPECT_EQ(data->lastReferenceExercisesRevision, 5);
    EXPECT_EQ(data->persistedReferenceExercisesRevision, 5);
    auto stored = platform::parseJson(*fileContents());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->dictionary()->at("kind"), Value("reference_exercises"));
    EXPECT_EQ(stored->dictionary()->at("protocolVersion"), Value(2));
    EXPECT_EQ(model::asNumber(&stored->dictionary()->at("revision")), 5.0);
    EXPECT_EQ(stored->dictionary()->at("items"), entries({"a", "b"}));

    // The same revision again, and a revision alone, change nothing.
    dispatch({{"reference_exercises", entries({"c"})}, {"referenceExercisesRevision", Value(5)}});
    dispatch({{"referenceExercisesRevision", Value(9)}});
    EXPECT_EQ(catalogueIds(), (Ids{"a", "b"}));
    EXPECT_EQ(data->lastReferenceExercisesRevision, 5);

    // Entries without an id or name are dropped, the rest applied.
    auto mixed = *entries({"d"}).array();
    mixed.emplace_back(Dictionary{{"id", Value("e")}});
    dispatch({{"reference_exercises", Value(mixed)}, {"referenceExercisesRevision", Value(6)}});
    EXPECT_EQ(catalogueIds(), (Ids{"d"}));
    EXPECT_EQ(data->persistedReferenceExercisesRevision, 6);
}

TEST_F(ReferenceCatalogue, WholeListWithoutUsableRevisionOrJsonIsAppliedButNotWritten) {
    dispatch({{"reference_exercises", entries({"a"})}});
    EXPECT_EQ(catalogueIds(), (Ids{"a"}));
    EXPECT_EQ(data->lastReferenceExercisesRevision, std::nullopt);
    EXPECT_FALSE(fileContents());

    // A date has no JSON form: the list stays in memory only.
    auto dated = *entries({"b"}).array();
    dated[0].get<Dictionary>()->insert_or_assign("addedOn", Value(platform::Date{1}));
    dispatch({{"reference_exercises", Value(dated)}, {"referenceExercisesRevision", Value(2)}});
    EXPECT_EQ(catalogueIds(), (Ids{"b"}));
    EXPECT_EQ(data->lastReferenceExercisesRevision, 2);
    EXPECT_EQ(data->persistedReferenceExercisesRevision, std::nullopt);

    // A revision that is not finite counts as none, so it cannot shut out later ones.
    dispatch(
        {{"reference_exercises", entries({"c"})}, {"referenceExercisesRevision", Value("inf")}});
    dispatch({{"reference_exercises", entries({"d"})}, {"referenceExercisesRevision", Value(3)}});
    EXPECT_EQ(catalogueIds(), (Ids{"d"}));
    EXPECT_EQ(data->lastReferenceExercisesRevision, 3);
}

TEST_F(ReferenceCatalogue, DeltaFollowsTheKeyedListRuleAndStaysInMemory) {
    dispatch({{"reference_exercises", entries({"a", "c", "b"})},
              {"referenceExercisesRevision", Value(1)}});
    dispatch({{"referenceExerciseOrder", strings({"b", "a"})},
              {"referenceExercisesRevision", Value(2)}});
    EXPECT_EQ(catalogueIds(), (Ids{"b", "a", "c"}));

    auto renamed = entry("a");
    renamed["name"] = Value("Renamed");
    dispatch({{"referenceExerciseUpdates", Value(platform::Array{renamed, entry("x")})},
              {"removedReferenceExerciseIds", strings({"c"})},
              {"referenceExercisesRevision", Value(3)}});
    EXPECT_EQ(catalogueIds(), (Ids{"b", "a", "x"}));
    EXPECT_EQ(data->referenceExercises->at(1)->name, "Renamed");
    EXPECT_EQ(data->lastReferenceExercisesRevision, 3);
    EXPECT_EQ(data->persistedReferenceExercisesRevision, 1);

    // A whole list wins over the delta keys of the same message.
    dispatch({{"reference_exercises", entries({"z"})},
              {"referenceExerciseUpdates", entries({"y"})},
              {"referenceExercisesRevision", Value(4)}});
    EXPECT_EQ(catalogueIds(), (Ids{"z"}));

    // An id named twice in the order keeps its first place.
    dispatch({{"referenceExerciseUpdates", entries({"y"})},
              {"referenceExerciseOrder", strings({"y", "z", "y"})}});
    EXPECT_EQ(catalogueIds(), (Ids{"y", "z"}));
}

TEST_F(ReferenceCatalogue, FileTransferIsCheckedAgainstItsMetadataAndTheRevisions) {
    writeCatalogueFile(document(4, {"old"}));
    restart();
    dispatch(
        {{"referenceExerciseUpdates", entries({"m"})}, {"referenceExercisesRevision", Value(5)}});
    ASSERT_EQ(data->lastReferenceExercisesRevision, 5);

    transfer(document(5, {"f"}), metadata(Value(6)));
    auto wrongKind = metadata(Value(5));
    wrongKind["syncPayloadKind"] = Value("weight_plates");
    transfer(document(5, {"f"}), wrongKind);
    auto wrongVersion = metadata(Value(5));
    wrongVersion["syncProtocolVersion"] = Value(3);
    transfer(document(5, {"f"}), wrongVersion);
    transfer(document(5, {"f"}, 1), metadata(Value(5)));
    transfer("{\"kind\":\"reference_exercises\"", metadata(Value(5)));
    EXPECT_EQ(catalogueIds(), (Ids{"old", "m"}));
    EXPECT_EQ(fileContents(), document(4, {"old"}));

    // Equal to the last revision in memory but newer than the file: taken byte for byte.
    const auto received = document(5, {"f", "g"}) + "\n";
    transfer(received, metadata(Value("5")));
    EXPECT_EQ(catalogueIds(), (Ids{"f", "g"}));
    EXPECT_EQ(fileContents(), received);
    EXPECT_EQ(data->persistedReferenceExercisesRevision, 5);

    // Not newer than the file, or older than memory: dropped.
    transfer(document(5, {"h"}), metadata(Value(5)));
    dispatch({{"reference_exercises", entries({"i"})}, {"referenceExercisesRevision", Value(8)}});
    transfer(document(7, {"h"}), metadata(Value(7)));
    EXPECT_EQ(catalogueIds(), (Ids{"i"}));
    EXPECT_EQ(data->persistedReferenceExercisesRevision, 8);
}

TEST_F(ReferenceCatalogue, FailedWriteIsLoggedAndAskedForAgainByTheNextContext) {
    files.createDirectories("/inbox");
    files.writeAtomically("/inbox/catalogue", bytesOf(document(6, {"b"})));
    files.failWrites("disk full");
    dispatch({{"reference_exercises", entries({"a"})}, {"referenceExercisesRevision", Value(5)}});
    data->didReceiveFile({"/inbox/catalogue", metadata(Value(6))});
    executor.runUntilIdle();
    EXPECT_EQ(catalogueIds(), (Ids{"b"}));
    EXPECT_EQ(data->lastReferenceExercisesRevision, 6);
    EXPECT_EQ(data->persistedReferenceExercisesRevision, std::nullopt);
    EXPECT_FALSE(fileContents());
    ASSERT_EQ(log.lines().size(), 2u);
    for (const auto& line : log.lines()) {
        EXPECT_TRUE(line.starts_with("Unable to persist Watch reference exercises: ")) << line;
        EXPECT_NE(line.find("disk full"), std::string::npos) << line;
    }

    files.clearFailures();
    data->didReceiveApplicationContext({{"referenceExercisesRevision", Value(6)}});
    executor.runUntilIdle();
    EXPECT_EQ(queuedTypes(), (Ids{"refresh_data"}));
}

TEST_F(ReferenceCatalogue, StartLoadsTheFileAndADeltaNewerThanTheFileIsFetchedAgain) {
    dispatch(
        {{"reference_exercises", entries({"a", "b"})}, {"referenceExercisesRevision", Value(3)}});
    dispatch({{"removedReferenceExerciseIds", strings({"a"})},
              {"referenceExercisesRevision", Value(4)}});
    EXPECT_TRUE(restart().empty());
    EXPECT_EQ(catalogueIds(), (Ids{"a", "b"}));
    EXPECT_EQ(data->lastReferenceExercisesRevision, 3);
    EXPECT_EQ(data->persistedReferenceExercisesRevision, 3);

    data->didReceiveApplicationContext({{"referenceExercisesRevision", Value(3)}});
    executor.runUntilIdle();
    EXPECT_TRUE(queuedTypes().empty());
    data->didReceiveApplicationContext({{"referenceExercisesRevision", Value(4)}});
    executor.runUntilIdle();
    EXPECT_EQ(queuedTypes(), (Ids{"refresh_data"}));
}

TEST_F(ReferenceCatalogue, DamagedFileAtStartLeavesAnEmptyCatalogueAndAsksForFreshData) {
    const std::vector<std::string> damaged{
        "",
        "not json",
        "[1, 2]",
        document(3, {"a"}, 3),
        R"({"kind":"full_snapshot","protocolVersion":2,"revision":3,"items":[]})",
        R"({"kind":"reference_exercises","protocolVersion":2,"revision":"soon","items":[]})",
        R"({"kind":"reference_exercises","protocolVersion":2,"revision":3,"items":[1]})",
        R"({"kind":"reference_exercises","protocolVersion":2,"revision":"1e999","items":[]})",
    };
    for (const auto& contents : damaged) {
        SCOPED_TRACE(contents);
        writeCatalogueFile(contents);
        EXPECT_EQ(restart(), (Ids{"refresh_data"}));
        EXPECT_TRUE(data->referenceExercises->empty());
        EXPECT_EQ(data->lastReferenceExercisesRevision, std::nullopt);
        EXPECT_EQ(data->persistedReferenceExercisesRevision, std::nullopt);
    }

    // An unreadable file counts as damaged; a missing one is a first start.
    files.failReads("io error");
    EXPECT_EQ(restart(), (Ids{"refresh_data"}));
    files.clearFailures();
    files.remove(catalogueFile);
    EXPECT_TRUE(restart().empty());
}

RC_GTEST_PROP(ReferenceCatalogueProperties, AnyMessageOrFileLeavesAUsableCatalogue, ()) {
    platform::ManualExecutor executor;
    platform::MemoryKeyValueStore defaults;
    platform::MemoryLog log;
    platform::MemoryFileSystem files;
    testsupport::FakeSession session{executor.main()};
    session.state = platform::ActivationState::notActivated;
    watchsync::WatchSyncOutbox outbox(executor, session, defaults, log);
    WatchDataSource data(
        WatchDataSource::Services{executor, defaults, files, &session, outbox, log});

    const std::vector<std::string> keys{"reference_exercises", "referenceExerciseUpdates",
                                        "removedReferenceExerciseIds", "referenceExerciseOrder",
                                        "referenceExercisesRevision"};
    Dictionary message;
    for (const auto& key : keys) {
        if (*rc::gen::arbitrary<bool>()) {
            message[key] = *testsupport::arbitraryValue(3, false);
        }
    }
    data.dispatchInbound(message, std::nullopt);
    auto contents =
        platform::toJsonText(Value(Dictionary{{"kind", Value("reference_exercises")},
                                              {"protocolVersion", Value(2)},
                                              {"revision", Value(1)},
                                              {"items", *testsupport::arbitraryValue(3, false)}}));
    files.createDirectories("/inbox");
    files.writeAtomically("/inbox/f", bytesOf(contents));
    data.didReceiveFile({"/inbox/f", Dictionary{{"syncPayloadKind", Value("reference_exercises")},
                                                {"syncProtocolVersion", Value(2)},
                                                {"referenceExercisesRevision", Value(1)}}});
    executor.runUntilIdle();
    for (const auto& exercise : data.referenceExercises.get()) {
        RC_ASSERT(exercise != nullptr);
    }
    // Whatever was written reads back at the next start as the same catalogue.
    if (data.persistedReferenceExercisesRevision) {
        WatchDataSource again(
            WatchDataSource::Services{executor, defaults, files, &session, outbox, log});
        RC_ASSERT(again.persistedReferenceExercisesRevision ==
                  data.persistedReferenceExercisesRevision);
    }
}

} // namespace
} // namespace hubtest
