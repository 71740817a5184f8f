#include "timer/rest_timer_notifications.hpp"

#include "platform/exec/manual_executor.hpp"
#include "platform/log/log.hpp"
#include "platform/notifications/simulated_notification_center.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <chrono>
#include <cmath>

namespace {

using platform::NotificationAuthorizationStatus;
using platform::SimulatedNotificationAnswer;
using timer::RestTimerNotifications;
using Status = NotificationAuthorizationStatus;

class RestTimerNotificationsTest : public ::testing::Test {
protected:
    explicit RestTimerNotificationsTest(
        Status status = Status::authorized,
        SimulatedNotificationAnswer answer = SimulatedNotificationAnswer::allow)
        : center(executor, answer, status) {}

    platform::ManualExecutor executor;
    platform::SimulatedNotificationCenter center;
    platform::MemoryLog log;
    RestTimerNotifications notifications{executor, center, log};

    std::vector<std::string> pendingIds() {
        executor.runUntilIdle();
        std::vector<std::string> ids;
        for (const auto& pending : center.pendingNow()) {
            ids.push_back(pending.request.identifier);
        }
        return ids;
    }
    using Ids = std::vector<std::string>;
};

TEST_F(RestTimerNotificationsTest, ARestRequestHasItsIdentifierTextsAndTime) {
    notifications.scheduleRestTimerNotification(90, false);
    EXPECT_EQ(pendingIds(), Ids{"tessaron.rest-timer.1"});
    auto request = center.pendingNow().at(0).request;
    EXPECT_EQ(request.content.title, "Rest Time Over");
    EXPECT_EQ(request.seconds, 90);

    executor.advanceBy(std::chrono::seconds(90));
    ASSERT_EQ(center.deliveredNow().size(), 1u);
}

TEST_F(RestTimerNotificationsTest, LessThanASecondLeftCancels) {
    for (double left : {0.0, 0.99, std::nan("")}) {
        notifications.scheduleRestTimerNotification(30, false);
        ASSERT_EQ(pendingIds().size(), 1u);
        notifications.scheduleRestTimerNotification(left, false);
        EXPECT_EQ(pendingIds(), Ids{}) << left;
    }
}

TEST_F(RestTimerNotificationsTest, OnlyRequestsOfTheRestTimerAreRemoved) {
    center.add({"other.reminder", {}, 100}, {});
    center.add({"tessaron.rest-timer.99", {}, 100}, {});
    notifications.scheduleRestTimerNotification(30, false);
    EXPECT_EQ(pendingIds(), (Ids{"other.reminder", "tessaron.rest-timer.1"}));
    notifications.cancelRestTimerNotifications();
    EXPECT_EQ(pendingIds(), Ids{"other.reminder"});
}

class DeniedNotifications : public RestTimerNotificationsTest {
protected:
    DeniedNotifications() : RestTimerNotificationsTest(Status::denied) {}
};

TEST_F(DeniedNotifications, NothingIsEverScheduled) {
    notifications.scheduleRestTimerNotification(30, false);
    EXPECT_EQ(pendingIds(), Ids{});

    notifications.setUpNotifications([] {
        return std::optional(RestTimerNotifications::RunningTimer{30, false});
    });
    EXPECT_EQ(pendingIds(), Ids{});
    EXPECT_EQ(center.authorizationRequestCount(), 0u);
    EXPECT_TRUE(center.categoriesNow().empty());
}

struct SetupCase {
    Status status;
    SimulatedNotificationAnswer answer;
};

class NotificationSetup : public RestTimerNotificationsTest,
                          public ::testing::WithParamInterface<SetupCase> {
protected:
    NotificationSetup() : RestTimerNotificationsTest(GetParam().status, GetParam().answer) {}
};

TEST_P(NotificationSetup, RegistersTheCategoryAndSchedulesTheRunningTimer) {
    notifications.setUpNotifications([] {
        return std::optional(RestTimerNotifications::RunningTimer{12.2, true});
    });
    ASSERT_EQ(pendingIds(), Ids{"tessaron.rest-timer.1"});
    auto request = center.pendingNow().at(0).request;
    EXPECT_EQ(request.seconds, 13) << "remaining seconds round up";
    EXPECT_EQ(request.content.title, "Times up");

    platform::NotificationCategory expected{"rest_timer", {{"rest timer", "Rest Timer", true}}, {}};
    EXPECT_EQ(center.categoriesNow(), std::vector{expected});
    EXPECT_EQ(center.authorizationRequestCount(),
              GetParam().status == Status::notDetermined ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    RestTimerNotifications, NotificationSetup,
    ::testing::Values(SetupCase{Status::authorized, SimulatedNotificationAnswer::deny},
                      SetupCase{Status::provisional, SimulatedNotificationAnswer::deny},
                      SetupCase{Status::notDetermined, SimulatedNotificationAnswer::allow}));

class UndecidedUser : public RestTimerNotificationsTest {
protected:
    UndecidedUser()
        : RestTimerNotificationsTest(Status::notDetermined,
                                     SimulatedNotificationAnswer::undecided) {}
};

TEST_F(UndecidedUser, AskingWithoutAnAnswerLeavesEverythingAlone) {
    bool asked = false;
    notifications.setUpNotifications([&] {
        asked = true;
        return std::optional(RestTimerNotifications::RunningTimer{30, false});
    });
    EXPECT_EQ(pendingIds(), Ids{});
    EXPECT_EQ(center.authorizationRequestCount(), 1u);
    EXPECT_TRUE(center.categoriesNow().empty());
    EXPECT_FALSE(asked);
}

TEST_F(RestTimerNotificationsTest, SetupWithoutARunningTimerOnlyRegistersTheCategory) {
    notifications.setUpNotifications(
        [] { return std::optional<RestTimerNotifications::RunningTimer>(); });
    EXPECT_EQ(pendingIds(), Ids{});
    EXPECT_EQ(center.categoriesNow().size(), 1u);
    notifications.setUpNotifications([] {
        return std::optional(RestTimerNotifications::RunningTimer{0.0, false});
    });
    EXPECT_EQ(pendingIds(), Ids{});
}

TEST_F(RestTimerNotificationsTest, AnswersAfterTheBookkeepingIsGoneDoNothing) {
    std::optional<RestTimerNotifications> shortLived;
    shortLived.emplace(executor, center, log);
    shortLived->scheduleRestTimerNotification(30, false);
    shortLived->setUpNotifications([] {
        return std::optional(RestTimerNotifications::RunningTimer{30, false});
    });
    executor.runNext();
    executor.runNext();
    shortLived.reset();
    EXPECT_EQ(pendingIds(), Ids{});
}

TEST_F(RestTimerNotificationsTest, TheRunningTimerIsNotReadOnceTheBookkeepingIsGone) {
    // How many steps the setup takes to read the timer...
    std::size_t steps = 0;
    {
        bool read = false;
        RestTimerNotifications first(executor, center, log);
        first.setUpNotifications([&] {
            read = true;
            return std::optional<RestTimerNotifications::RunningTimer>();
        });
        while (!read && executor.runNext()) {
            ++steps;
        }
        ASSERT_TRUE(read);
    }
    executor.runUntilIdle();
    // ...and the program going away just before that step: the timer may be gone too.
    bool read = false;
    std::optional<RestTimerNotifications> second;
    second.emplace(executor, center, log);
    second->setUpNotifications([&] {
        read = true;
        return std::optional<RestTimerNotifications::RunningTimer>();
    });
    for (std::size_t i = 0; i + 1 < steps; ++i) {
        executor.runNext();
    }
    second.reset();
    executor.runUntilIdle();
    EXPECT_FALSE(read);
}

// Any interleaving of calls and of the queues' work ends with the state of the last call: one
// request, from the last schedule, or none after a cancel (or a schedule with under a second).
RC_GTEST_PROP(RestTimerNotificationsProperty, TheLastCallDecides, ()) {
    platform::ManualExecutor executor;
    platform::SimulatedNotificationCenter center(executor, SimulatedNotificationAnswer::allow,
                                                 Status::authorized);
    platform::MemoryLog log;
    RestTimerNotifications notifications(executor, center, log);

    auto calls = *rc::gen::nonEmpty(rc::gen::container<std::vector<std::pair<int, int>>>(
        rc::gen::pair(rc::gen::inRange(0, 120), rc::gen::inRange(0, 8))));
    std::uint64_t generation = 0;
    std::optional<std::string> expected;
    for (auto [seconds, steps] : calls) {
        ++generation;
        if (seconds < 100) {
            notifications.scheduleRestTimerNotification(seconds, seconds % 2 == 0);
            expected = seconds >= 1
                           ? std::optional(RestTimerNotifications::requestIdentifier(generation))
                           : std::nullopt;
        } else {
            notifications.cancelRestTimerNotifications();
            expected.reset();
        }
        for (int i = 0; i < steps && executor.nextDueTime() == executor.now(); ++i) {
            executor.runNext();
        }
    }
    executor.runUntilIdle();
    auto pending = center.pendingNow();
    if (expected) {
        RC_ASSERT(pending.size() == 1u);
        RC_ASSERT(pending[0].request.identifier == *expected);
    } else {
        RC_ASSERT(pending.empty());
    }
}

} // namespace
