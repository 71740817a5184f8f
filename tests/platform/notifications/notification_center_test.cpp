#include "platform/exec/manual_executor.hpp"
#include "platform/notifications/simulated_notification_center.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using platform::NotificationAuthorizationStatus;
using platform::NotificationRequest;
using platform::SimulatedNotificationAnswer;
using Status = NotificationAuthorizationStatus;

NotificationRequest request(std::string identifier, double seconds) {
    return {std::move(identifier), {"Title", "Body", "category", true}, seconds};
}

std::vector<std::string> identifiers(const std::vector<platform::PendingNotification>& pending) {
    std::vector<std::string> result;
    for (const auto& notification : pending) {
        result.push_back(notification.request.identifier);
    }
    return result;
}

class NotificationCenterTest : public ::testing::Test {
protected:
    platform::ManualExecutor executor;
    platform::SimulatedNotificationCenter center{executor, SimulatedNotificationAnswer::allow,
                                                 Status::authorized};

    std::optional<platform::NotificationError> addNow(NotificationRequest r) {
        std::optional<platform::NotificationError> result;
        bool done = false;
        center.add(std::move(r), [&](auto error) {
            result = error;
            done = true;
        });
        executor.runUntilIdle();
        EXPECT_TRUE(done);
        return result;
    }
};

TEST_F(NotificationCenterTest, PendingRequestsFireOnTheClockAndMoveToDelivered) {
    std::vector<std::string> handed;
    center.onDeliver(
        [&](const auto& delivered) { handed.push_back(delivered.request.identifier); });
    auto start = executor.now();
    EXPECT_FALSE(addNow(request("a", 30)));
    EXPECT_FALSE(addNow(request("b", 2.5)));

    auto pending = center.pendingNow();
    ASSERT_EQ(identifiers(pending), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(pending[0].fireDate, start + 30s);
    EXPECT_EQ(pending[1].fireDate, start + 2500ms);

    executor.advanceBy(2499ms);
    EXPECT_TRUE(center.deliveredNow().empty());
    executor.advanceBy(1ms);
    EXPECT_EQ(identifiers(center.pendingNow()), (std::vector<std::string>{"a"}));
    executor.advanceTo(start + 30s);

    EXPECT_TRUE(center.pendingNow().empty());
    auto delivered = center.deliveredNow();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0].request, request("b", 2.5));
    EXPECT_EQ(delivered[0].date, start + 2500ms);
    EXPECT_EQ(delivered[1].date, start + 30s);
    EXPECT_EQ(handed, (std::vector<std::string>{"b", "a"}));
}

TEST_F(NotificationCenterTest, ARequestUnderAPendingIdentifierReplacesItAndItsTime) {
    auto start = executor.now();
    addNow(request("a", 10));
    executor.advanceBy(5s);
    addNow(request("a", 10));
    EXPECT_EQ(center.pendingNow().size(), 1u);

    executor.advanceTo(start + 12s);
    EXPECT_TRUE(center.deliveredNow().empty()) << "the replaced request must not fire";
    executor.advanceTo(start + 15s);
    ASSERT_EQ(center.deliveredNow().size(), 1u);
    EXPECT_EQ(center.deliveredNow()[0].date, start + 15s);
}

TEST_F(NotificationCenterTest, RemovedRequestsNeverFire) {
    addNow(request("a", 10));
    addNow(request("b", 10));
    addNow(request("c", 10));
    center.removePendingNotificationRequests({"a", "unknown"});
    executor.runUntilIdle();
    EXPECT_EQ(identifiers(center.pendingNow()), (std::vector<std::string>{"b", "c"}));
    center.removeAllPendingNotificationRequests();
    executor.advanceBy(1min);
    EXPECT_TRUE(center.pendingNow().empty());
    EXPECT_TRUE(center.deliveredNow().empty());
    EXPECT_EQ(executor.pendingCount(), 0u);
}

TEST_F(NotificationCenterTest, DeliveredNotificationsCanBeRemoved) {
    addNow(request("a", 1));
    addNow(request("b", 1));
    executor.advanceBy(1s);
    center.removeDeliveredNotifications({"a"});
    executor.runUntilIdle();
    ASSERT_EQ(center.deliveredNow().size(), 1u);
    EXPECT_EQ(center.deliveredNow()[0].request.identifier, "b");
    center.removeAllDeliveredNotifications();
    executor.runUntilIdle();
    EXPECT_TRUE(center.deliveredNow().empty());
}

TEST_F(NotificationCenterTest, RequestsWithoutATimeAreRefused) {
    EXPECT_TRUE(addNow(request("zero", 0)));
    EXPECT_TRUE(addNow(request("negative", -1)));
    EXPECT_TRUE(center.pendingNow().empty());
}

// Every operation that answers does so later, on the center's queue, never inside the call.
TEST_F(NotificationCenterTest, CompletionsArriveLaterOnTheCentersQueue) {
    std::vector<std::string> answered;
    auto record = [&](std::string name) {
        return [&answered, name, this](auto&&...) {
            EXPECT_FALSE(executor.main().isCurrent()) << name;
            answered.push_back(name);
        };
    };
    center.requestAuthorization({.alert = true}, record("authorization"));
    center.getNotificationSettings(record("settings"));
    center.getNotificationCategories(record("categories"));
    center.add(request("a", 5), record("add"));
    center.getPendingNotificationRequests(record("pending"));
    center.getDeliveredNotifications(record("delivered"));
    EXPECT_TRUE(answered.empty());

    executor.runUntilIdle();
    EXPECT_EQ(answered, (std::vector<std::string>{"authorization", "settings", "categories", "add",
                                                  "pending", "delivered"}));
}

TEST_F(NotificationCenterTest, CategoriesAreReplacedAsAWhole) {
    platform::NotificationCategory first{"one", {{"act", "Act", true}}, {}};
    platform::NotificationCategory second{"two", {}, {}};
    center.setNotificationCategories({first, second});
    center.setNotificationCategories({second});
    std::vector<platform::NotificationCategory> seen;
    center.getNotificationCategories([&](auto categories) { seen = categories; });
    executor.runUntilIdle();
    EXPECT_EQ(seen, (std::vector<platform::NotificationCategory>{second}));
}

struct AuthorizationCase {
    SimulatedNotificationAnswer answer;
    bool provisional;
    bool granted;
    Status status;
};

class AuthorizationAnswers : public ::testing::TestWithParam<AuthorizationCase> {};

TEST_P(AuthorizationAnswers, TheSimulatedUserDecidesOnce) {
    platform::ManualExecutor executor;
    platform::SimulatedNotificationCenter center(executor, GetParam().answer);
    EXPECT_EQ(center.authorizationStatusNow(), Status::notDetermined);

    std::optional<bool> granted;
    center.requestAuthorization(
        {.alert = true, .sound = true, .provisional = GetParam().provisional},
        [&](bool yes, auto error) {
            EXPECT_FALSE(error);
            granted = yes;
        });
    executor.runUntilIdle();
    EXPECT_EQ(granted, GetParam().granted);
    EXPECT_EQ(center.authorizationStatusNow(), GetParam().status);

    std::optional<Status> reported;
    center.getNotificationSettings([&](auto settings) { reported = settings.authorizationStatus; });
    executor.runUntilIdle();
    EXPECT_EQ(reported, GetParam().status);

    bool added = false;
    center.add(request("a", 1), [&](auto error) { added = !error; });
    executor.runUntilIdle();
    EXPECT_EQ(added, GetParam().granted) << "only a permitted app may add requests";
}

INSTANTIATE_TEST_SUITE_P(NotificationCenter, AuthorizationAnswers,
                         ::testing::Values(AuthorizationCase{SimulatedNotificationAnswer::allow,
                                                             false, true, Status::authorized},
                                           AuthorizationCase{SimulatedNotificationAnswer::deny,
                                                             false, false, Status::denied},
                                           AuthorizationCase{SimulatedNotificationAnswer::undecided,
                                                             false, false, Status::notDetermined},
                                           AuthorizationCase{SimulatedNotificationAnswer::deny,
                                                             true, true, Status::provisional}));

TEST(NotificationCenterAuthorization, ADecisionStandsAndAFailureIsReported) {
    platform::ManualExecutor executor;
    platform::SimulatedNotificationCenter center(executor, SimulatedNotificationAnswer::allow,
                                                 Status::denied);
    center.failNextAuthorizationRequest({"asking is not possible"});
    std::vector<std::pair<bool, std::optional<std::string>>> answers;
    auto record = [&](bool granted, std::optional<platform::NotificationError> error) {
        answers.emplace_back(granted, error ? std::optional(error->description) : std::nullopt);
    };
    center.requestAuthorization({.alert = true}, record);
    center.requestAuthorization({.alert = true}, record);
    executor.runUntilIdle();

    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0], std::pair(false, std::optional<std::string>("asking is not possible")));
    EXPECT_EQ(answers[1], std::pair(false, std::optional<std::string>()))
        << "a user who denied is not asked again";
    EXPECT_EQ(center.authorizationRequestCount(), 2u);

    center.setAuthorizationStatus(Status::authorized);
    EXPECT_EQ(center.authorizationStatusNow(), Status::authorized);
}

TEST(NotificationCenterAnswers, TheFlagTextsParse) {
    EXPECT_EQ(platform::parseSimulatedNotificationAnswer("allow"),
              SimulatedNotificationAnswer::allow);
    EXPECT_EQ(platform::parseSimulatedNotificationAnswer("deny"),
              SimulatedNotificationAnswer::deny);
    EXPECT_EQ(platform::parseSimulatedNotificationAnswer("undecided"),
              SimulatedNotificationAnswer::undecided);
    EXPECT_FALSE(platform::parseSimulatedNotificationAnswer("Allow"));
}

} // namespace
