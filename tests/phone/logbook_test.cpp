#include "phone/logbook.hpp"
#include "platform/exec/clock.hpp"
#include "platform/files/temp_directory.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace phone {
void PrintTo(const LogbookEntry& entry, std::ostream* out) {
    *out << "#" << entry.number << " " << entry.syncId << " " << entry.type << " "
         << entry.messageJson << " at " << entry.arrivedAt.time_since_epoch().count();
}
} // namespace phone

namespace {

using namespace std::chrono_literals;
using phone::Logbook;
using phone::LogbookEntry;

const platform::TimePoint t0 = platform::ManualClock::defaultStart();

class LogbookTest : public ::testing::Test {
protected:
    platform::testing::TempDirectory dir;
    std::filesystem::path file = dir.path() / "logbook.sqlite";

    std::unique_ptr<Logbook> open() {
        std::string error;
        auto logbook = Logbook::open(file, &error);
        EXPECT_TRUE(logbook) << error;
        return logbook;
    }
};

TEST_F(LogbookTest, RecordsEachSyncIdOnceInArrivalOrder) {
    auto logbook = open();
    ASSERT_TRUE(logbook);
    auto b = logbook->record("B", "complete_set", R"({"syncId":"B"})", t0);
    auto a = logbook->record("A", "start_workout", R"({"syncId":"A"})", t0 + 1500ms);
    auto againB = logbook->record("B", "other", R"({"changed":true})", t0 + 3s);
    auto c = logbook->record("C", "", R"({"syncId":"C"})", t0 + 4s);

    ASSERT_TRUE(b && a && againB && c);
    EXPECT_FALSE(b->repeat);
    EXPECT_FALSE(a->repeat);
    EXPECT_FALSE(c->repeat);
    // A repeat points at the first record and changes nothing in it.
    EXPECT_TRUE(againB->repeat);
    EXPECT_EQ(againB->number, b->number);

    std::vector<LogbookEntry> expected{
        {1, "B", "complete_set", R"({"syncId":"B"})", t0},
        {2, "A", "start_workout", R"({"syncId":"A"})", t0 + 1500ms},
        {3, "C", "", R"({"syncId":"C"})", t0 + 4s},
    };
    EXPECT_EQ(logbook->entries(), expected);
    EXPECT_EQ(logbook->find("A"), expected[1]);
    EXPECT_EQ(logbook->find("D"), std::nullopt);
}

TEST_F(LogbookTest, KeepsEntriesAndNumberingAcrossReopening) {
    {
        auto logbook = open();
        ASSERT_TRUE(logbook);
        logbook->record("A", "complete_set", "{}", t0);
        logbook->record("B", "complete_set", "{}", t0 + 1s);
    }
    auto logbook = open();
    ASSERT_TRUE(logbook);
    ASSERT_EQ(logbook->entries().size(), 2u);
    EXPECT_EQ(logbook->entries()[1].syncId, "B");
    EXPECT_EQ(logbook->entries()[1].arrivedAt, t0 + 1s);

    auto repeat = logbook->record("A", "complete_set", "{}", t0 + 2s);
    ASSERT_TRUE(repeat);
    EXPECT_TRUE(repeat->repeat);
    auto next = logbook->record("C", "complete_set", "{}", t0 + 3s);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->number, 3);
}

TEST_F(LogbookTest, RevisionGrowsByOneAndKeepsGrowingAfterReopening) {
    {
        auto logbook = open();
        ASSERT_TRUE(logbook);
        EXPECT_EQ(logbook->revision(), 0);
        EXPECT_EQ(logbook->takeNextRevision(), 1);
        EXPECT_EQ(logbook->takeNextRevision(), 2);
        EXPECT_EQ(logbook->revision(), 2);
    }
    auto logbook = open();
    ASSERT_TRUE(logbook);
    EXPECT_EQ(logbook->revision(), 2);
    EXPECT_EQ(logbook->takeNextRevision(), 3);
}

TEST_F(LogbookTest, KeepsEachCounterApartAndGrowingAfterReopening) {
    {
        auto logbook = open();
        ASSERT_TRUE(logbook);
        EXPECT_EQ(logbook->takeNext("commandNumber"), 1);
        EXPECT_EQ(logbook->takeNext("commandNumber"), 2);
        EXPECT_EQ(logbook->takeNextRevision(), 1);
        EXPECT_EQ(logbook->counter("referenceExercisesRevision"), 0);
    }
    auto logbook = open();
    ASSERT_TRUE(logbook);
    EXPECT_EQ(logbook->counter("commandNumber"), 2);
    EXPECT_EQ(logbook->takeNext("commandNumber"), 3);
    EXPECT_EQ(logbook->revision(), 1);
}

TEST_F(LogbookTest, RemembersAppliedEventsAndFinishedWorkoutsOncePerSyncId) {
    phone::FinishedWorkout first{"L1", "w1", 5000.5, R"({"id":"w1","status":"COMPLETE"})"};
    {
        auto logbook = open();
        ASSERT_TRUE(logbook);
        EXPECT_FALSE(logbook->wasApplied("L1"));
        EXPECT_TRUE(logbook->markApplied("L1"));
        EXPECT_TRUE(logbook->markApplied("L1"));
        ASSERT_TRUE(logbook->recordFinishedWorkout(first));
        // A second completion under the same sync id is the same completion.
        ASSERT_TRUE(logbook->recordFinishedWorkout({"L1", "w2", 1, "{}"}));
    }
    auto logbook = open();
    ASSERT_TRUE(logbook);
    EXPECT_TRUE(logbook->wasApplied("L1"));
    EXPECT_FALSE(logbook->wasApplied("L2"));
    phone::FinishedWorkout second{"L3", "w2", 7000, "{}"};
    ASSERT_TRUE(logbook->recordFinishedWorkout(second));
    EXPECT_EQ(logbook->finishedWorkouts(), (std::vector<phone::FinishedWorkout>{first, second}));
}

TEST_F(LogbookTest, RefusesWhatCannotBeALogbook) {
    platform::testing::TempDirectory::writeText(file, std::string(4096, 'x'));
    std::string error;
    EXPECT_FALSE(Logbook::open(file, &error));
    EXPECT_NE(error.find(file.string()), std::string::npos) << error;

    error.clear();
    EXPECT_FALSE(Logbook::open(dir.path() / "missing" / "logbook.sqlite", &error));
    EXPECT_FALSE(error.empty());
}

} // namespace
