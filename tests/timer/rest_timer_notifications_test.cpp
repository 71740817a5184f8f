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
    platform::ManualExecutor executor;
    platform::SimulatedNotificationCenter center{executor, SimulatedNotificationAnswer::allow,
                                                 Status::authorized};
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

TEST_F(RestTimerNotificationsTest, OneRequestOfItsOwnWithAtLeastASecondLeft) {
    center.add({"other.reminder", {}, 100}, {});
    notifications.scheduleRestTimerNotification(90, false);
    EXPECT_EQ(pendingIds(), (Ids{"other.reminder", "tessaron.rest-timer.1"}));
    EXPECT_EQ(center.pendingNow().at(1).request.content.title, "Rest Time Over");
    for (double left : {0.0, 0.99, std::nan("")}) {
        notifications.scheduleRestTimerNotification(30, true);
        ASSERT_EQ(pendingIds().size(), 2u);
        notifications.scheduleRestTimerNotification(left, false);
        EXPECT_EQ(pendingIds(), Ids{"other.reminder"}) << left;
    }
}

// At activation: asked when undecided, the category registered once allowed in any way, and a
// running timer's alert scheduled with its remaining seconds rounded up.
TEST(RestTimerNotificationsSetup, FollowsTheUsersAnswer) {
    struct Case {
        Status status;
        SimulatedNotificationAnswer answer;
        std::optional<double> remaining;
        std::size_t asked, categories, pending;
    };
    for (const auto& c :
         {Case{Status::provisional, SimulatedNotificationAnswer::deny, 12.2, 0, 1, 1},
          Case{Status::notDetermined, SimulatedNotificationAnswer::allow, 12.2, 1, 1, 1},
          Case{Status::notDetermined, SimulatedNotificationAnswer::undecided, 30, 1, 0, 0},
          Case{Status::denied, SimulatedNotificationAnswer::allow, 30, 0, 0, 0},
          Case{Status::authorized, SimulatedNotificationAnswer::allow, {}, 0, 1, 0}}) {
        platform::ManualExecutor executor;
        platform::SimulatedNotificationCenter center(executor, c.answer, c.status);
        platform::MemoryLog log;
        RestTimerNotifications notifications(executor, center, log);
        notifications.setUpNotifications(
            [&]() -> std::optional<RestTimerNotifications::RunningTimer> {
                if (!c.remaining) {
                    return std::nullopt;
                }
                return RestTimerNotifications::RunningTimer{*c.remaining, true};
            });
        if (c.status == Status::denied) {
            notifications.scheduleRestTimerNotification(30, false);
        }
        executor.runUntilIdle();
        SCOPED_TRACE(static_cast<int>(c.status));
        EXPECT_EQ(center.authorizationRequestCount(), c.asked);
        EXPECT_EQ(center.categoriesNow().size(), c.categories);
        ASSERT_EQ(center.pendingNow().size(), c.pending);
        if (c.pending > 0) {
            EXPECT_EQ(center.pendingNow()[0].request.seconds, 13);
            EXPECT_EQ(center.pendingNow()[0].request.content.title, "Times up");
        }
    }
}

// The steps the setup takes to read the running timer, then the program going away just before
// the last of them: the timer may be gone too, and must not be read (the center's answers hold
// the bookkeeping weakly, as this step does).
TEST_F(RestTimerNotificationsTest, TheRunningTimerIsNotReadOnceTheBookkeepingIsGone) {
    std::size_t steps = 0;
    for (const bool goesAway : {false, true}) {
        bool read = false;
        std::optional<RestTimerNotifications> setup(std::in_place, executor, center, log);
        setup->setUpNotifications([&] {
            read = true;
            return std::optional<RestTimerNotifications::RunningTimer>();
        });
        for (std::size_t i = 0; goesAway ? i + 1 < steps : !read; ++i) {
            ASSERT_TRUE(executor.runNext());
            steps = goesAway ? steps : i + 1;
        }
        setup.reset();
        executor.runUntilIdle();
        EXPECT_EQ(read, !goesAway);
    }
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
