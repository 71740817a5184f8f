#include "platform/exec/manual_executor.hpp"
#include "platform/files/temp_directory.hpp"
#include "platform/health/simulated_health_store.hpp"
#include "platform/health/statistics_archive.hpp"
#include "platform/values/bplist.hpp"
#include "support/arbitrary_value.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

namespace {

using namespace std::chrono_literals;
using platform::HealthType;
using State = platform::WorkoutSessionState;

// Keeps the states a session reaches.
class RecordingSessionDelegate final : public platform::WorkoutSessionDelegate {
public:
    std::vector<State> states;

    void didChangeToState(platform::WorkoutSession&, State to, State, platform::Date) override {
        states.push_back(to);
    }
    void didFail(platform::WorkoutSession&, const platform::HealthError&) override {}
    void didDisconnectFromRemoteDevice(platform::WorkoutSession&,
                                       std::optional<platform::HealthError>) override {}
    void didReceiveDataFromRemoteWorkoutSession(platform::WorkoutSession&,
                                                const std::vector<platform::Data>&) override {}
};

TEST(SimulatedHealthStoreTest, SessionsFollowThePlatformsMachineAndOnlyAnAuthorisedWorkoutIsSaved) {
    platform::ManualExecutor executor;
    platform::testing::TempDirectory dir;
    platform::SimulatedHealthStore store(executor, {dir.path()});
    auto now = [&] { return platform::toDate(executor.now()); };
    RecordingSessionDelegate delegate;
    // A session of ten minutes with its builder collecting, to the finished workout or error.
    auto workout = [&](auto duringIt) {
        auto session =
            std::get<std::shared_ptr<platform::WorkoutSession>>(store.makeWorkoutSession({}));
        session->setDelegate(&delegate);
        auto builder = session->associatedWorkoutBuilder();
        builder->setDataSource(store.makeLiveDataSource({}));
        session->startActivity(now());
        builder->beginCollection(now(), [](bool, auto) {});
        EXPECT_EQ(session->state(), State::notStarted) << "a change of state arrives later";
        executor.advanceBy(10min);
        duringIt(*session);
        session->stopActivity(now());
        session->pause(); // stopped: ignored
        builder->endCollection(now(), [](bool, auto) {});
        std::optional<std::variant<platform::SavedWorkout, platform::HealthError>> result;
        builder->finishWorkout([&](auto outcome) { result = std::move(outcome); });
        executor.runUntilIdle();
        session->end();
        executor.runUntilIdle();
        EXPECT_EQ(store.currentSession(), nullptr);
        return result.value();
    };
    auto unasked = workout([](platform::WorkoutSession& session) {
        session.resume(); // not paused: ignored
        session.pause();
        session.resume();
    });
    EXPECT_EQ(std::get<platform::HealthError>(unasked).code,
              platform::HealthError::Code::notAuthorized);
    EXPECT_EQ(delegate.states, (std::vector<State>{State::running, State::paused, State::running,
                                                   State::stopped, State::ended}));

    store.requestAuthorization({HealthType::workout}, {HealthType::heartRate}, [](bool, auto) {});
    auto result = workout([](auto&) {});
    auto* saved = std::get_if<platform::SavedWorkout>(&result);
    ASSERT_NE(saved, nullptr);
    EXPECT_DOUBLE_EQ(saved->durationSeconds, 600);
    EXPECT_EQ(saved->activityType, platform::activityTypeTraditionalStrengthTraining);
    EXPECT_NEAR(saved->totalEnergyBurnedKilocalories.value(), 75, 25); // 5-10 kcal a minute
    platform::SimulatedHealthStore reopened(executor, {dir.path()});
    EXPECT_EQ(reopened.savedWorkouts(), std::vector<platform::SavedWorkout>{*saved});
}

platform::Statistics drawStatistics() {
    auto type = *rc::gen::element(HealthType::heartRate, HealthType::activeEnergyBurned);
    auto quantity = [type] {
        auto units =
            type == HealthType::heartRate
                ? std::vector{platform::HealthUnit::countPerMinute,
                              platform::HealthUnit::countPerSecond}
                : std::vector{platform::HealthUnit::kilocalorie, platform::HealthUnit::kilojoule};
        auto value = *rc::gen::arbitrary<double>();
        return platform::Quantity{std::isfinite(value) ? value : 0.0, *rc::gen::elementOf(units)};
    };
    double start = *rc::gen::inRange(-1'000'000, 1'000'000) + 0.25;
    platform::Statistics statistics{type, platform::Date{start},
                                    platform::Date{start + *rc::gen::inRange(0, 86'400)},
                                    std::nullopt, std::nullopt};
    if (*rc::gen::arbitrary<bool>()) {
        statistics.mostRecentQuantity = quantity();
    }
    if (*rc::gen::arbitrary<bool>()) {
        statistics.sumQuantity = quantity();
    }
    return statistics;
}

RC_GTEST_PROP(StatisticsArchive, RoundTrips, ()) {
    auto statistics =
        *rc::gen::container<std::vector<platform::Statistics>>(rc::gen::exec(drawStatistics));
    auto bytes = platform::encodeStatisticsArchive(statistics);
    RC_ASSERT(bytes.has_value());
    RC_ASSERT(platform::decodeStatisticsArchive(*bytes) == std::optional(statistics));
}

RC_GTEST_PROP(StatisticsArchive, ArbitraryBytesAndPlistsAreRejectedSafely, ()) {
    RC_ASSERT(!platform::decodeStatisticsArchive(*rc::gen::arbitrary<platform::Data>()));
    auto plist = platform::encodeBinaryPlist(*testsupport::arbitraryValue(3, false));
    RC_PRE(plist.has_value());
    RC_ASSERT(!platform::decodeStatisticsArchive(*plist));
}

} // namespace
