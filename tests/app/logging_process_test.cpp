// The two programs over a real socket while the user logs a set on the watch: the set completes,
// the rest runs with its end-of-rest notification pending, a value typed on the keypad reaches
// the phone, and the phone records each event once.
#include "app/process_support.hpp"
#include "phone/logbook.hpp"
#include "platform/files/temp_directory.hpp"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using platform::Value;
using processtest::Child;
using processtest::readFile;
using processtest::waitFor;

TEST(LoggingProcess, ASetCompletedOnTheWatchStartsTheRestAndReachesThePhoneOnce) {
    platform::testing::TempDirectory dir;
    auto link = "unix:" + (dir.path() / "link.sock").string();
    auto phoneOut = dir.path() / "phone.log";
    auto watchOut = dir.path() / "watch.log";
    Child phone({PHONE_SIM, "--link", link, "--data-dir", (dir.path() / "phone").string()},
                phoneOut);
    phone.write("workout-status IN_PROGRESS");
    ASSERT_TRUE(waitFor(phoneOut, "sent snapshot revision 1")) << readFile(phoneOut);
    Child watch(
        {WRISTSIDE, "--headless", "--link", link, "--data-dir", (dir.path() / "watch").string()},
        watchOut);

    // The watch holds the running workout once the phone's answer has arrived.
    int answers = 0;
    bool running = false;
    for (int i = 0; i < 200 && !running; ++i) {
        watch.write(R"({"action":"state"})");
        ASSERT_TRUE(waitFor(watchOut, R"({"reply":"state")", static_cast<std::size_t>(++answers)));
        auto state = processtest::lastState(watchOut);
        running = state && *state->find("workoutStatus") == Value("IN_PROGRESS");
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(running) << readFile(watchOut);

    watch.write(
        R"({"action":"keypad","exerciseId":"ex-0006","setIndex":0,"field":"weight","keys":["1","0","5"]})");
    watch.write(R"({"action":"actionButton","exerciseId":"ex-0006","setIndex":0})");
    watch.write(R"({"action":"actionButton","exerciseId":"no-such-exercise","setIndex":0})");
    watch.write(R"({"action":"state"})");
    ASSERT_TRUE(waitFor(watchOut, R"({"reply":"state")", static_cast<std::size_t>(++answers)));
    EXPECT_TRUE(waitFor(watchOut, R"(no exercise with id \"no-such-exercise\")"))
        << readFile(watchOut);
    auto state = processtest::lastState(watchOut);
    ASSERT_TRUE(state);
    const auto& timer = *state->find("timer");
    EXPECT_EQ(*timer.find("timerIsRunning"), Value(true)) << readFile(watchOut);
    const auto& set =
        state->find("exercises")->array()->front().find("exerciseSets")->array()->front();
    EXPECT_EQ(*set.find("status"), Value("COMPLETE"));
    EXPECT_EQ(*set.find("weight"), Value("105"));

    // Permission was asked for at start; the rest's end is announced.
    bool notified = false;
    for (int i = 0; i < 100 && !notified; ++i) {
        watch.write(R"({"action":"state"})");
        ASSERT_TRUE(waitFor(watchOut, R"({"reply":"state")", static_cast<std::size_t>(++answers)));
        auto latest = processtest::lastState(watchOut);
        const auto* pending = latest->find("notifications");
        notified = pending != nullptr && pending->array() != nullptr &&
                   pending->array()->size() == 1 &&
                   *pending->array()->front().find("title") == Value("Rest Time Over");
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(notified) << readFile(watchOut);

    ASSERT_TRUE(waitFor(phoneOut, "received complete_set")) << readFile(phoneOut);
    watch.write(R"({"action":"quit"})");
    EXPECT_EQ(watch.finish(), 0);
    phone.write("quit");
    EXPECT_EQ(phone.finish(), 0);

    auto logbook = phone::Logbook::open(dir.path() / "phone" / "logbook.sqlite");
    ASSERT_TRUE(logbook);
    std::map<std::string, int> types;
    for (const auto& entry : logbook->entries()) {
        ++types[entry.type];
    }
    EXPECT_EQ(types["complete_set"], 1);
    EXPECT_EQ(types["update_set"], 1) << "the weight typed on the keypad";
}

} // namespace
