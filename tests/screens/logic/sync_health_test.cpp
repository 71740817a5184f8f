// Sync health: every outbox message in the lifter's words, the indicator's quiet rule on virtual
// time, and the sync screen and control channel over the watch's core as the phone answers.
#include "app/headless_control.hpp"
#include "platform/values/json.hpp"
#include "screens/logic/sync_health.hpp"
#include "support/watch_core_fixture.hpp"
#include "support/workout_builders.hpp"

namespace {

using namespace std::chrono_literals;
using platform::Dictionary;
using platform::TimePoint;
using screens::SyncHealthFacts;
using testsupport::makeExercise;
using testsupport::makeSet;
using testsupport::message;

screens::WorkoutNames dayA() {
    return {"w1",
            "Day A",
            {makeExercise("Back Squat", {makeSet("sq1"), makeSet("sq2"), makeSet("sq3")}),
             makeExercise("Bench Press", {makeSet("bp1"), makeSet("bp2"), makeSet("bp3")})},
            {model::Workout{"w2", "Day B", "Week 1", "NOT_STARTED", {}}}};
}

TEST(SyncHealthDescriptions, EveryMessageOfTheOutboxInTheLiftersWords) {
    const auto names = dayA();
    struct Case {
        Dictionary message;
        std::string words;
    };
    const std::vector<Case> cases{
        {message("complete_set", {{"id", "sq2"}}), "Set 2 of Back Squat completed"},
        {message("update_set", {{"id", "bp3"}, {"weight", "135"}}),
         "Weight of set 3 of Bench Press: 135"},
        {message("update_set", {{"id", "sq1"}, {"reps", "8"}}), "Reps of set 1 of Back Squat: 8"},
        {message("update_set", {{"id", "sq1"}, {"duration", 90}}),
         "Duration of set 1 of Back Squat: 1:30"},
        {message("update_set", {{"id", "sq3"}, {"type", "warmup"}}),
         "Type of set 3 of Back Squat: warmup"},
        {message("update_set", {{"id", "sq1"}, {"status", "IN_PROGRESS"}, {"timerSeconds", 60}}),
         "Set 1 of Back Squat started"},
        {message("add_set", {{"exerciseId", "Bench Press"}, {"setId", "bp3"}}),
         "Set 3 of Bench Press added"},
        {message("add_set", {{"exerciseId", "Bench Press"}, {"setId", "unknown"}}),
         "A set of Bench Press added"},
        {message("delete_set", {{"id", "gone"}}), "A set deleted"},
        {message("complete_set", {{"id", "gone"}}), "A set completed"},
        {message("cancel_timer", {{"timerId", "t1"}}), "Rest timer stopped"},
        {message("create_exercise", {{"name", "Deadlift"}, {"id", "x"}}), "Deadlift added"},
        {message("delete_exercise", {{"id", "Bench Press"}}), "Bench Press removed"},
        {message("delete_exercise", {{"id", "gone"}}), "An exercise removed"},
        {message("start_workout", {{"id", "w1"}, {"workoutId", "w1"}}), "Workout Day A started"},
        {message("complete_workout", {{"workoutId", "w1"}}), "Workout Day A finished"},
        {message("cancel_workout", {{"workoutId", "w2"}}), "Workout Day B cancelled"},
        {message("complete_workout", {{"workoutId", "w9"}}), "Workout finished"},
        {Dictionary{{"type", "refresh_data"}}, "Request for the iPhone's data"},
        {message("mystery"), "A change for the iPhone"},
        {Dictionary{}, "A change for the iPhone"},
    };
    for (const auto& [dictionary, words] : cases) {
        EXPECT_EQ(screens::describeMessage(dictionary, names), words)
            << platform::toJsonText(platform::Value(dictionary));
    }
}

TEST(SyncHealthIndicator, QuietThroughARestSpeaksUpWhenThePhoneFallsSilentOrOutOfReach) {
    const TimePoint now = platform::ManualClock::defaultStart();
    const auto ago = [&](platform::Duration d) { return std::optional<TimePoint>(now - d); };
    const std::optional<TimePoint> never;
    struct Case {
        std::string what;
        std::size_t waiting;
        std::optional<TimePoint> headQueuedAt;
        bool reachable;
        std::optional<TimePoint> unreachableSince;
        std::optional<TimePoint> lastAcknowledgedAt;
        bool quiet;
        std::optional<TimePoint> changesAt;
    };
    const std::vector<Case> cases{
        {"all delivered, in reach, a long rest", 0, never, true, never, ago(10min), true, never},
        {"all delivered, just went away", 0, never, false, ago(30s), ago(2min), true, now + 30s},
        {"all delivered, away over a minute", 0, never, false, ago(90s), ago(2min), false, never},
        {"waiting while away: at once", 2, ago(5s), false, ago(5s), ago(1s), false, never},
        {"a set just done, in reach", 1, ago(5s), true, never, ago(10min), true, now + 55s},
        {"a queue flowing, in reach", 1, ago(70s), true, never, ago(20s), true, now + 40s},
        {"in reach, silent a minute", 1, ago(70s), true, never, ago(2min), false, never},
        {"in reach, never answered", 1, ago(60s), true, never, never, false, never},
        {"time lost to a kill, never answered", 1, never, true, never, never, false, never},
    };
    for (const auto& c : cases) {
        SyncHealthFacts facts;
        facts.reachable = c.reachable;
        facts.unreachableSince = c.unreachableSince;
        facts.lastAcknowledgedAt = c.lastAcknowledgedAt;
        for (std::size_t i = 0; i < c.waiting; ++i) {
            screens::SyncHealthEntry entry;
            entry.queuedAt = i == 0 ? c.headQueuedAt : now;
            facts.entries.push_back(entry);
        }
        EXPECT_EQ(screens::indicatorQuiet(facts, now), c.quiet) << c.what;
        EXPECT_EQ(screens::indicatorChangesAt(facts, now), c.changesAt) << c.what;
    }
}

class SyncHealthTest : public testsupport::WatchCoreTest {
protected:
    std::vector<std::string> answers;
    std::optional<app::HeadlessControl> control;

    void SetUp() override {
        WatchCoreTest::SetUp();
        session.reachable = true;
        data().workoutStatus = "IN_PROGRESS";
        data().workoutId = "w1";
        data().name = "Day A";
        data().exercises = dayA().exercises;
        auto& c = *core;
        control.emplace(app::HeadlessControl::Wiring{
            executor, c.data(), c.outbox(), c.restTimer(), c.workoutManager(), c.mainScreen(),
            c.notificationCenter(), [&](std::string_view line) { answers.emplace_back(line); },
            [] {}, nullptr, &c.syncHealth()});
    }
    screens::SyncHealth& health() { return core->syncHealth(); }
    std::string act(const std::string& line) {
        answers.clear();
        control->handleLine(line);
        executor.runUntilIdle();
        return answers.empty() ? "" : answers.back();
    }
    platform::Value syncHealthState() {
        const auto reply = platform::parseJson(act(R"({"action":"state"})"));
        const auto* state = reply ? reply->find("syncHealth") : nullptr;
        return state != nullptr ? *state : platform::Value();
    }
    std::string enqueue(Dictionary payload) {
        auto id = core->outbox().enqueue(message("complete_set", std::move(payload))).value();
        executor.runUntilIdle();
        return id;
    }
    void answer(const std::string& syncId, std::optional<std::string> status) {
        Dictionary ack{{"syncAck", syncId}};
        if (status) {
            ack.insert_or_assign("status", *status);
        }
        dispatch(ack);
    }
};

TEST_F(SyncHealthTest, RetryIsShownAsHeldBackThenClearsAndAConfirmedChangeLeavesTheScreen) {
    const auto queuedAt = executor.now();
    const auto id = enqueue({{"id", "sq2"}});
    const auto stored = defaults.dataForKey(watchsync::WatchSyncOutbox::storageKey);
    auto texts = screens::syncScreenTexts(health().facts(), executor.now());
    ASSERT_EQ(texts.rows.size(), 1u);
    EXPECT_EQ(texts.rows[0].title, "Set 2 of Back Squat completed");
    EXPECT_EQ(texts.rows[0].detail, "Waiting under a minute · sent live and by transfer");
    EXPECT_EQ(defaults.dataForKey(watchsync::WatchSyncOutbox::storageKey), stored)
        << "reading changes nothing in the outbox";

    answer(id, "Retry");
    executor.advanceBy(2min);
    // The retry is due 5 s after the answer; until then the head is held back.
    EXPECT_EQ(health().facts().heldBack, std::nullopt) << "sent again after 5 s";
    const auto ms = [](TimePoint t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    };
    const auto state = syncHealthState();
    EXPECT_EQ(platform::toJsonText(state),
              platform::toJsonText(platform::Value(Dictionary{
                  {"waiting", 1},
                  {"reachable", true},
                  {"unreachableSince", platform::Value()},
                  {"lastAcknowledgedAt", platform::Value()},
                  {"heldBack", platform::Value()},
                  {"entries", platform::Array{Dictionary{
                                  {"syncId", id},
                                  {"description", "Set 2 of Back Squat completed"},
                                  {"queuedAt", ms(queuedAt)},
                                  {"liveSends", 2},
                                  {"transfers", 2},
                                  {"lastAnswer", "Retry"},
                              }}},
              })));
    texts = screens::syncScreenTexts(health().facts(), executor.now());
    EXPECT_EQ(texts.rows[0].detail, "Waiting 2 min · sent live and by transfer");
    EXPECT_EQ(texts.summary, "1 change waiting");

    answer(id, "Retry");
    EXPECT_EQ(health().facts().heldBack, "The iPhone answered \"Retry\"");
    EXPECT_EQ(screens::syncScreenTexts(health().facts(), executor.now()).heldBack,
              "The iPhone answered \"Retry\"");
    // Two minutes without a confirmation: the indicator shows, and opens the screen.
    EXPECT_TRUE(health().indicatorShown());
    EXPECT_EQ(act(R"({"action":"sendNow"})"),
              R"({"reply":"error","message":"sendNow: the sync screen is not open"})");
    EXPECT_EQ(act(R"({"action":"openSyncStatus"})"), R"({"reply":"ok"})");
    const auto sentBefore = session.liveMessages.size();
    EXPECT_EQ(act(R"({"action":"sendNow"})"), R"({"reply":"ok"})");
    EXPECT_EQ(session.liveMessages.size(), sentBefore + 1) << "Send Now runs the flush";

    const auto revision = health().revision.get();
    answer(id, std::nullopt);
    EXPECT_GT(health().revision.get(), revision);
    EXPECT_TRUE(health().facts().entries.empty());
    EXPECT_EQ(health().facts().lastAcknowledgedAt, executor.now());
    EXPECT_FALSE(health().indicatorShown());
    EXPECT_EQ(screens::syncScreenTexts(health().facts(), executor.now()).lastConfirmed,
              "Last confirmed by iPhone just now");
}

TEST_F(SyncHealthTest, TheIndicatorSpeaksUpAfterAMinuteOfSilenceByTimeAlone) {
    enqueue({{"id", "sq1"}});
    EXPECT_FALSE(health().indicatorShown());
    EXPECT_EQ(act(R"({"action":"openSyncStatus"})"),
              R"({"reply":"error","message":"openSyncStatus: the sync indicator is not on )"
              R"(screen: everything is delivered and the phone answered within the last minute"})");
    std::vector<bool> seen;
    auto watching = health().revision.observe(
        [&](std::uint64_t) { seen.push_back(health().indicatorShown()); });
    executor.advanceBy(59s);
    EXPECT_TRUE(seen.empty()) << "nothing to redraw within the minute";
    executor.advanceBy(1s);
    EXPECT_EQ(seen, std::vector<bool>{true});
}

} // namespace
