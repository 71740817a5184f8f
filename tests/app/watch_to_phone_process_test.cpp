// The two programs over a real socket: what the watch sends reaches the phone, which records
// each message once and in order, while the user logs a set and when the watch is killed with a
// message still waiting for the phone.
#include "app/process_support.hpp"
#include "phone/logbook.hpp"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

using processtest::readFile;
using processtest::Value;

class WatchToPhone : public processtest::Programs {
protected:
    // What the phone recorded, once both programs have ended.
    std::vector<phone::LogbookEntry> logbook() {
        quitBoth();
        auto logbook = phone::Logbook::open(phoneData / "logbook.sqlite");
        EXPECT_TRUE(logbook);
        return logbook ? logbook->entries() : std::vector<phone::LogbookEntry>{};
    }
    static std::size_t outboxSize(const Value& state) {
        return state.find("outbox")->array()->size();
    }
};

TEST_F(WatchToPhone, ASetCompletedOnTheWatchStartsTheRestAndReachesThePhoneOnce) {
    startPhone({"workout-status IN_PROGRESS"});
    waitForPhone("sent snapshot revision 1");
    startWatch();
    // The watch holds the running workout once the phone's answer has arrived.
    ASSERT_TRUE(watch->stateWhere(
        [](const Value& s) { return *s.find("workoutStatus") == Value("IN_PROGRESS"); }));

    watch->write(
        R"({"action":"keypad","exerciseId":"ex-0006","setIndex":0,"field":"weight","keys":["1","0","5"]})");
    watch->write(R"({"action":"actionButton","exerciseId":"ex-0006","setIndex":0})");
    watch->write(R"({"action":"actionButton","exerciseId":"no-such-exercise","setIndex":0})");
    auto state = watch->state();
    ASSERT_TRUE(state) << readFile(watchOut);
    EXPECT_TRUE(processtest::waitFor(watchOut, R"(no exercise with id \"no-such-exercise\")"))
        << readFile(watchOut);
    EXPECT_EQ(*state->find("timer")->find("timerIsRunning"), Value(true)) << readFile(watchOut);
    const auto& set =
        state->find("exercises")->array()->front().find("exerciseSets")->array()->front();
    EXPECT_EQ(*set.find("status"), Value("COMPLETE"));
    EXPECT_EQ(*set.find("weight"), Value("105"));

    // Permission was asked for at start; the rest's end is announced.
    EXPECT_TRUE(watch->stateWhere([](const Value& s) {
        const auto* pending = s.find("notifications");
        return pending != nullptr && pending->array() != nullptr && pending->array()->size() == 1 &&
               *pending->array()->front().find("title") == Value("Rest Time Over");
    }));

    waitForPhone("received complete_set");
    std::map<std::string, int> types;
    for (const auto& entry : logbook()) {
        ++types[entry.type];
    }
    EXPECT_EQ(types["complete_set"], 1);
    EXPECT_EQ(types["update_set"], 1) << "the weight typed on the keypad";
}

TEST_F(WatchToPhone, AMessagePendingAtAKillArrivesOnceAfterTheRestart) {
    startPhone({"ack none"});
    waitForPhone("go unanswered from now on");
    startWatch();
    waitForPhone("received refresh_data");
    auto state = watch->state();
    ASSERT_TRUE(state) << readFile(watchOut);
    ASSERT_EQ(outboxSize(*state), 1u) << readFile(watchOut);
    watch->kill(SIGKILL);

    // Started again on the same data with the phone still silent: the stored request is there,
    // replaced by the new start's own request, never doubled.
    startWatch();
    waitForPhone("received refresh_data", 2);
    state = watch->state();
    ASSERT_TRUE(state) << readFile(watchOut);
    EXPECT_EQ(outboxSize(*state), 1u) << readFile(watchOut);

    phone->write("ack success");
    // The retry after the phone's silence is the outbox's head going out again on a flush; a
    // refresh from the control channel makes one happen now.
    watch->write(R"({"action":"refresh"})");
    waitForPhone("with Success");
    EXPECT_TRUE(watch->stateWhere([](const Value& s) { return outboxSize(s) == 0; }));

    auto entries = logbook();
    std::set<std::string> ids;
    for (const auto& entry : entries) {
        EXPECT_EQ(entry.type, "refresh_data");
        EXPECT_TRUE(ids.insert(entry.syncId).second) << "recorded twice: " << entry.syncId;
    }
    // One request from each start and the one the control channel asked for.
    EXPECT_EQ(entries.size(), 3u) << readFile(phoneOut);
}

} // namespace
