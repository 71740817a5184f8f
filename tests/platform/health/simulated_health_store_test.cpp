#include "platform/health/simulated_health_store.hpp"

#include "platform/exec/manual_executor.hpp"
#include "platform/files/temp_directory.hpp"
#include "platform/health/health_test_support.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;
using healthtest::into;
using healthtest::Outcome;
using healthtest::StateReport;
using platform::HealthType;
using State = platform::WorkoutSessionState;

std::shared_ptr<platform::WorkoutSession> makeSession(platform::HealthStore& store) {
    auto made = store.makeWorkoutSession({});
    auto* session = std::get_if<std::shared_ptr<platform::WorkoutSession>>(&made);
    return session ? *session : nullptr;
}

class SimulatedHealthStoreTest : public ::testing::Test {
protected:
    platform::Date now() const { return platform::toDate(executor.now()); }

    // A session whose builder has begun collecting, with heart rate enabled.
    void startCollecting() {
        session = makeSession(store);
        ASSERT_TRUE(session);
        session->setDelegate(&sessionDelegate);
        builder = session->associatedWorkoutBuilder();
        builder->setDelegate(&builderDelegate);
        auto source = store.makeLiveDataSource({});
        source->enableCollectionForType(HealthType::heartRate);
        builder->setDataSource(source);
        session->startActivity(now());
        Outcome began;
        builder->beginCollection(now(), into(began));
        executor.runUntilIdle();
        ASSERT_EQ(began.success, true);
    }

    // Stops, ends collection and finishes; the finished workout or the error.
    std::variant<platform::SavedWorkout, platform::HealthError> finish() {
        session->stopActivity(now());
        Outcome ended;
        builder->endCollection(now(), into(ended));
        std::optional<std::variant<platform::SavedWorkout, platform::HealthError>> result;
        builder->finishWorkout([&](auto outcome) { result = std::move(outcome); });
        executor.runUntilIdle();
        return result.value();
    }

    void authorize() {
        Outcome answered;
        store.requestAuthorization({HealthType::workout}, {HealthType::heartRate}, into(answered));
        executor.runUntilIdle();
    }

    platform::ManualExecutor executor;
    platform::testing::TempDirectory dir;
    healthtest::WorkoutDataLink link;
    platform::SimulatedHealthStore store{executor, {dir.path(), true, 7, 5s, &link}};
    healthtest::RecordingSessionDelegate sessionDelegate;
    healthtest::RecordingBuilderDelegate builderDelegate;
    std::shared_ptr<platform::WorkoutSession> session;
    std::shared_ptr<platform::LiveWorkoutBuilder> builder;
};

TEST_F(SimulatedHealthStoreTest, StateChangesArriveLaterAndFollowThePlatformsMachine) {
    session = makeSession(store);
    session->setDelegate(&sessionDelegate);
    auto start = now();
    session->startActivity(start);
    EXPECT_TRUE(sessionDelegate.states.empty());
    EXPECT_EQ(session->state(), State::notStarted);
    executor.runUntilIdle();
    EXPECT_EQ(sessionDelegate.states,
              (std::vector<StateReport>{{State::running, State::notStarted, start}}));

    session->resume(); // not paused: ignored
    session->pause();
    session->resume();
    session->stopActivity(start);
    session->pause(); // stopped: ignored
    session->end();
    executor.runUntilIdle();
    std::vector<State> reached;
    for (const auto& report : sessionDelegate.states) {
        reached.push_back(report.to);
    }
    EXPECT_EQ(reached, (std::vector<State>{State::running, State::paused, State::running,
                                           State::stopped, State::ended}));
    EXPECT_EQ(session->state(), State::ended);
    EXPECT_EQ(store.currentSession(), nullptr);
}

TEST_F(SimulatedHealthStoreTest, PreparedSessionStartsAndAnUnstartedOneCanEnd) {
    session = makeSession(store);
    session->setDelegate(&sessionDelegate);
    session->prepare();
    executor.runUntilIdle();
    EXPECT_EQ(session->state(), State::prepared);
    session->startActivity(now());
    executor.runUntilIdle();
    EXPECT_EQ(session->state(), State::running);

    auto other = makeSession(store);
    other->end();
    executor.runUntilIdle();
    EXPECT_EQ(other->state(), State::ended);
}

TEST_F(SimulatedHealthStoreTest, BuilderSamplesOnlyWhileRunningAndCollecting) {
    startCollecting();
    executor.advanceBy(30s);
    ASSERT_EQ(builderDelegate.batches.size(), 6u);
    EXPECT_EQ(builderDelegate.batches.back(),
              (std::set<HealthType>{HealthType::heartRate, HealthType::activeEnergyBurned}));
    auto heart = builder->statisticsForType(HealthType::heartRate).value();
    auto energy = builder->statisticsForType(HealthType::activeEnergyBurned).value();
    EXPECT_EQ(heart.endDate, now());
    EXPECT_FALSE(heart.sumQuantity);
    EXPECT_GE(heart.mostRecentQuantity->value, 90);
    EXPECT_NEAR(energy.sumQuantity->value, 3.75, 1.3); // 5-10 kcal/min for half a minute

    session->pause();
    executor.advanceBy(60s);
    EXPECT_EQ(builderDelegate.batches.size(), 6u);
    EXPECT_EQ(builder->statisticsForType(HealthType::activeEnergyBurned), energy);

    session->resume();
    executor.advanceBy(5s);
    EXPECT_EQ(builderDelegate.batches.size(), 7u);
    // The pause does not count as effort.
    EXPECT_LT(builder->statisticsForType(HealthType::activeEnergyBurned)->sumQuantity->value,
              energy.sumQuantity->value + 1.0);

    Outcome ended;
    builder->endCollection(now(), into(ended));
    executor.advanceBy(30s);
    EXPECT_EQ(ended.success, true);
    EXPECT_EQ(builderDelegate.batches.size(), 7u);
}

TEST_F(SimulatedHealthStoreTest, HeartRateIsCollectedOnlyWhenEnabled) {
    session = makeSession(store);
    builder = session->associatedWorkoutBuilder();
    builder->setDelegate(&builderDelegate);
    builder->setDataSource(store.makeLiveDataSource({}));
    session->startActivity(now());
    builder->beginCollection(now(), [](bool, auto) {});
    executor.advanceBy(5s);
    ASSERT_EQ(builderDelegate.batches.size(), 1u);
    EXPECT_EQ(builderDelegate.batches[0], std::set<HealthType>{HealthType::activeEnergyBurned});
    EXPECT_FALSE(builder->statisticsForType(HealthType::heartRate));
}

TEST_F(SimulatedHealthStoreTest, SavedWorkoutsOutliveTheStore) {
    authorize();
    startCollecting();
    executor.advanceBy(10min);
    Outcome tagged;
    builder->addMetadata({{std::string(platform::metadataKeySyncIdentifier), "w-1"}}, into(tagged));
    auto result = finish();
    ASSERT_EQ(tagged.success, true);
    auto* saved = std::get_if<platform::SavedWorkout>(&result);
    ASSERT_NE(saved, nullptr);
    EXPECT_DOUBLE_EQ(saved->durationSeconds, 600);
    EXPECT_EQ(saved->activityType, platform::activityTypeTraditionalStrengthTraining);
    EXPECT_GT(saved->maxHeartRate.value(), saved->averageHeartRate.value());
    EXPECT_NEAR(saved->totalEnergyBurnedKilocalories.value(), 75, 25);

    platform::SimulatedHealthStore reopened(executor, {dir.path()});
    EXPECT_EQ(reopened.savedWorkouts(), std::vector<platform::SavedWorkout>{*saved});
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "health.sqlite"));
}

TEST_F(SimulatedHealthStoreTest, NothingIsSavedWithoutPermissionOrAfterDiscarding) {
    startCollecting();
    auto unasked = finish();
    EXPECT_EQ(std::get<platform::HealthError>(unasked).code,
              platform::HealthError::Code::notAuthorized);

    store.setUserAllowsAuthorization(false);
    authorize();
    EXPECT_EQ(store.authorizationStatus(HealthType::workout),
              platform::AuthorizationStatus::sharingDenied);

    store.setUserAllowsAuthorization(true);
    authorize();
    startCollecting();
    builder->discardWorkout();
    auto discarded = finish();
    EXPECT_EQ(std::get<platform::HealthError>(discarded).code,
              platform::HealthError::Code::invalidState);
    EXPECT_TRUE(store.savedWorkouts().empty());
}

TEST_F(SimulatedHealthStoreTest, MirroredDataTravelsBothWays) {
    startCollecting();
    Outcome early;
    session->sendToRemoteWorkoutSession({1}, into(early));
    Outcome mirrored;
    session->startMirroringToCompanionDevice(into(mirrored));
    Outcome sent;
    session->sendToRemoteWorkoutSession({2, 3}, into(sent));
    executor.runUntilIdle();
    EXPECT_EQ(early.success, false);
    EXPECT_EQ(mirrored.success, true);
    EXPECT_EQ(sent.success, true);
    EXPECT_EQ(link.sent, (std::vector<platform::Data>{{2, 3}}));

    store.receiveRemoteWorkoutData({9});
    EXPECT_TRUE(sessionDelegate.remoteData.empty());
    executor.runUntilIdle();
    EXPECT_EQ(sessionDelegate.remoteData, (std::vector<std::vector<platform::Data>>{{{9}}}));
}

TEST_F(SimulatedHealthStoreTest, MirroringNeedsAPhone) {
    platform::SimulatedHealthStore alone(executor, {});
    auto lonely = makeSession(alone);
    Outcome mirrored;
    lonely->startMirroringToCompanionDevice(into(mirrored));
    executor.runUntilIdle();
    EXPECT_EQ(mirrored.error->code, platform::HealthError::Code::noCompanion);
}

TEST_F(SimulatedHealthStoreTest, DataQueuedAfterTheStoreIsGoneNeverReachesTheLink) {
    healthtest::WorkoutDataLink gone;
    std::shared_ptr<platform::WorkoutSession> orphan;
    Outcome sent;
    {
        platform::SimulatedHealthStore shortLived(executor, {{}, true, 7, 5s, &gone});
        orphan = makeSession(shortLived);
        Outcome mirrored;
        orphan->startMirroringToCompanionDevice(into(mirrored));
        executor.runUntilIdle();
        ASSERT_EQ(mirrored.success, true);
        // Queued, then the program lets go of the store and of the link behind it.
        orphan->sendToRemoteWorkoutSession({4}, into(sent));
    }
    executor.runUntilIdle();
    EXPECT_EQ(sent.success, false);
    EXPECT_TRUE(gone.sent.empty());
}

TEST_F(SimulatedHealthStoreTest, InjectedFailuresReachTheCaller) {
    authorize();
    store.setFailures({.sessionCreation = true});
    EXPECT_TRUE(std::holds_alternative<platform::HealthError>(store.makeWorkoutSession({})));

    store.setFailures({.beginCollection = true});
    session = makeSession(store);
    Outcome began;
    session->associatedWorkoutBuilder()->beginCollection(now(), into(began));
    executor.runUntilIdle();
    EXPECT_EQ(began.error->code, platform::HealthError::Code::injected);

    store.setFailures({});
    startCollecting();
    store.setFailures({.addMetadata = true, .mirroring = true, .sendRemoteData = true});
    Outcome metadata, mirrored, sent;
    builder->addMetadata({{"k", 1}}, into(metadata));
    session->startMirroringToCompanionDevice(into(mirrored));
    session->sendToRemoteWorkoutSession({1}, into(sent));
    executor.runUntilIdle();
    EXPECT_EQ(metadata.success, false);
    EXPECT_EQ(mirrored.success, false);
    EXPECT_EQ(sent.success, false);
    EXPECT_TRUE(builder->metadata().empty());
    EXPECT_TRUE(link.sent.empty());

    store.setFailures({.endCollection = true});
    EXPECT_TRUE(std::holds_alternative<platform::HealthError>(finish()));
    store.setFailures({.finishWorkout = true});
    EXPECT_TRUE(std::holds_alternative<platform::HealthError>(finish()));
    EXPECT_TRUE(store.savedWorkouts().empty());
}

} // namespace
