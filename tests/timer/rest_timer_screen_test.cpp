#include "timer/rest_timer_screen.hpp"

#include "platform/haptics/haptics.hpp"
#include "platform/health/simulated_health_store.hpp"
#include "session/workout_manager.hpp"
#include "timer/timer_fixture.hpp"

#include <chrono>
#include <cmath>

namespace {

using namespace std::chrono_literals;
using platform::Date;
using platform::HapticType;
using timer::RestTimer;

class RestTimerScreenTest : public timertest::TimerTest {
protected:
    platform::SimulatedHealthStore health{executor};
    session::WorkoutManager workouts{executor, store, health, log};
    platform::HapticRecorder haptics{executor.clock()};
    timer::RestTimerManager& manager = *timer;

    std::vector<Date> finishCalls;
    std::vector<std::pair<std::string, Date>> completed;
    std::function<void()> afterCompletion;
    std::optional<RestTimer> screen;

    Date now() { return timer::dateFromTimePoint(executor.now()); }

    void SetUp() override {
        screen.emplace(RestTimer::Services{executor, manager, workouts, haptics,
                                           [this](Date at) { return finishTimer(at); }},
                       [this](const std::string& setId, Date at) {
                           completed.emplace_back(setId, at);
                           if (afterCompletion) {
                               afterCompletion();
                           }
                       });
    }

    void startRun(double seconds, bool countdown, std::string id, std::string title = "Rest") {
        manager.mutate([&] {
            manager.timerId = std::move(id);
            manager.startTime = now();
            manager.timerSeconds = seconds;
            manager.isExerciseCountdown = countdown;
            manager.titleMessage = std::move(title);
            manager.timerIsRunning = true;
        });
    }

    // Stands in for the timer runs: a countdown completes set "S-1" and turns into a 60 s rest
    // from when it ended; a rest stops.
    std::optional<std::pair<std::string, Date>> finishTimer(Date at) {
        finishCalls.push_back(at);
        auto end = std::min(manager.timerEndTime(), at);
        if (!manager.isExerciseCountdown.get()) {
            manager.timerIsRunning = false;
            return std::nullopt;
        }
        startRun(60, false, "rest-after-S-1");
        manager.mutate([&] { manager.startTime = end; });
        return std::pair(std::string("S-1"), end);
    }

    std::size_t successes() const {
        return static_cast<std::size_t>(
            std::count_if(haptics.played().begin(), haptics.played().end(),
                          [](const auto& played) { return played.type == HapticType::success; }));
    }
};

TEST(RestTimerFormat, PositionalWithPartSecondsRoundedUp) {
    for (auto [seconds, text] : std::vector<std::pair<double, std::string>>{
             {3725, "1:02:05"}, {4.2, "0:05"}, {30.0000001, "0:30"}, {std::nan(""), "0:00"}}) {
        EXPECT_EQ(RestTimer::formatTimeLeft(seconds), text) << seconds;
    }
    EXPECT_FALSE(RestTimer::formatTimeLeft(1e300).empty());
}

TEST_F(RestTimerScreenTest, ACountdownCompletesItsSetAndTheRestThatFollowsCountsDown) {
    auto start = executor.now();
    startRun(30, true, "T-1", "Plank");
    screen->appear();
    executor.advanceBy(29s);
    EXPECT_EQ(screen->message.get(), "0:01");
    EXPECT_EQ(screen->title(), "Plank");

    executor.advanceBy(1s);
    EXPECT_EQ(completed,
              (std::vector{std::pair(std::string("S-1"), timer::dateFromTimePoint(start + 30s))}));
    EXPECT_EQ(successes(), 1u);
    EXPECT_EQ(screen->message.get(), std::nullopt);
    EXPECT_EQ(screen->title(), "Rest");
    EXPECT_EQ(screen->timeLeftText(), "1:00");

    executor.advanceBy(1s);
    EXPECT_EQ(screen->message.get(), "0:59");

    executor.advanceBy(59s);
    EXPECT_EQ(finishCalls.size(), 2u) << "the rest ends on its own tick";
    EXPECT_EQ(successes(), 2u);
    EXPECT_EQ(completed.size(), 1u);
    executor.advanceBy(5s);
    EXPECT_EQ(finishCalls.size(), 2u);
}

TEST_F(RestTimerScreenTest, TicksRunOnlyWhileTheScreenIsShown) {
    startRun(90, false, "T-1");
    screen->appear();
    screen->appear();
    EXPECT_EQ(executor.pendingCount(), 1u) << "appearing twice keeps one tick";
    executor.advanceBy(1s);

    screen->disappear();
    EXPECT_EQ(executor.pendingCount(), 0u);
    executor.advanceBy(100s);
    EXPECT_EQ(screen->message.get(), "1:29");
    EXPECT_TRUE(finishCalls.empty()) << "a hidden screen does not finish the run";

    screen->appear();
    executor.advanceBy(1s);
    EXPECT_EQ(finishCalls.size(), 1u);

    screen.reset();
    EXPECT_EQ(executor.pendingCount(), 0u) << "the tick goes with the screen";
}

TEST_F(RestTimerScreenTest, TheCompletionCallbackMayCloseTheScreen) {
    afterCompletion = [this] { screen.reset(); };
    startRun(2, true, "T-1", "Plank");
    screen->appear();
    executor.advanceBy(2s);
    EXPECT_FALSE(screen.has_value());
    EXPECT_EQ(completed.size(), 1u);
    EXPECT_EQ(executor.pendingCount(), 0u);
    executor.advanceBy(5s);
    EXPECT_EQ(finishCalls.size(), 1u);
}

} // namespace
