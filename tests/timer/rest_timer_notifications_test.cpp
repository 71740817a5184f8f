#include "timer/rest_timer_notifications.hpp"

#include "platform/exec/manual_executor.hpp"
#include "platform/log/log.hpp"
#include "platform/notifications/simulated_notification_center.hpp"

#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using platform::NotificationAuthorizationStatus;
using platform::SimulatedNotificationAnswer;
using timer::RestTimerNotifications;
using Status = NotificationAuthorizationStatus;

// Passes everything to the simulated center, but can hold back the answers of chosen calls, so
// that a test decides when each one reaches the bookkeeping.
class GatedCenter final : public platform::NotificationCenter {
public:
    explicit GatedCenter(platform::NotificationCenter& inner) : inner_(inner) {}

    bool holdSettings = false;
    bool holdPending = false;
    bool holdAdds = false;
    int adds = 0;

    // Answers the held calls whose flag is `kind` (all of them when none is given), in order.
    void releaseHeld(const bool* kind = nullptr) {
        std::vector<Held> answers;
        std::erase_if(held_, [&](Held& item) {
            if (kind != nullptr && item.kind != kind) {
                return false;
            }
            answers.push_back(std::move(item));
            return true;
        });
        for (auto& item : answers) {
            item.answer();
        }
    }

    void requestAuthorization(platform::NotificationAuthorizationOptions options,
                              AuthorizationCompletion completion) override {
        inner_.requestAuthorization(options, std::move(completion));
    }
    void getNotificationSettings(SettingsCompletion completion) override {
        inner_.getNotificationSettings(gate(holdSettings, std::move(completion)));
    }
    void setNotificationCategories(std::vector<platform::NotificationCategory> c) override {
        inner_.setNotificationCategories(std::move(c));
    }
    void getNotificationCategories(CategoriesCompletion completion) override {
        inner_.getNotificationCategories(std::move(completion));
    }
    void add(platform::NotificationRequest request, AddCompletion completion) override {
        ++adds;
        inner_.add(std::move(request), gate(holdAdds, std::move(completion)));
    }
    void getPendingNotificationRequests(PendingCompletion completion) override {
        inner_.getPendingNotificationRequests(gate(holdPending, std::move(completion)));
    }
    void removePendingNotificationRequests(std::vector<std::string> identifiers) override {
        inner_.removePendingNotificationRequests(std::move(identifiers));
    }
    void removeAllPendingNotificationRequests() override {
        inner_.removeAllPendingNotificationRequests();
    }
    void getDeliveredNotifications(DeliveredCompletion completion) override {
        inner_.getDeliveredNotifications(std::move(completion));
    }
    void removeDeliveredNotifications(std::vector<std::string> identifiers) override {
        inner_.removeDeliveredNotifications(std::move(identifiers));
    }
    void removeAllDeliveredNotifications() override { inner_.removeAllDeliveredNotifications(); }

private:
    struct Held {
        const bool* kind;
        std::function<void()> answer;
    };

    template <class F> F gate(bool& flag, F completion) {
        return [this, &flag, completion](auto answer) {
            if (flag) {
                held_.push_back({&flag, [completion, answer] { completion(answer); }});
            } else {
                completion(answer);
            }
        };
    }

    platform::NotificationCenter& inner_;
    std::vector<Held> held_;
};

class RestTimerNotificationsTest : public ::testing::Test {
protected:
    explicit RestTimerNotificationsTest(
        Status status = Status::authorized,
        SimulatedNotificationAnswer answer = SimulatedNotificationAnswer::allow)
        : center(executor, answer, status) {}

    platform::ManualExecutor executor;
    platform::SimulatedNotificationCenter center;
    GatedCenter gated{center};
    platform::MemoryLog log;
    RestTimerNotifications notifications{executor, gated, log};

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
    EXPECT_EQ(request.content.body, "Get Back to Work!");
    EXPECT_EQ(request.content.categoryIdentifier, "rest_timer");
    EXPECT_TRUE(request.content.defaultSound);
    EXPECT_EQ(request.seconds, 90);

    executor.advanceBy(std::chrono::seconds(90));
    ASSERT_EQ(center.deliveredNow().size(), 1u);
}

TEST_F(RestTimerNotificationsTest, ACountdownRequestHasTheCountdownTexts) {
    notifications.scheduleRestTimerNotification(45, true);
    ASSERT_EQ(pendingIds(), Ids{"tessaron.rest-timer.1"});
    auto content = center.pendingNow().at(0).request.content;
    EXPECT_EQ(content.title, "Times up");
    EXPECT_EQ(content.body, "Set countdown finished");
    EXPECT_EQ(content.categoryIdentifier, "rest_timer");
}

TEST_F(RestTimerNotificationsTest, CallsReturnWithoutWaitingForTheQueue) {
    notifications.scheduleRestTimerNotification(30, false);
    notifications.cancelRestTimerNotifications();
    EXPECT_GT(executor.pendingCount(), 0u);
    EXPECT_EQ(gated.adds, 0);
}

// Whatever order the center's answers take, the later call decides what stays pending.
TEST_F(RestTimerNotificationsTest, TheLaterOfTwoCallsWins) {
    notifications.scheduleRestTimerNotification(30, false);
    notifications.scheduleRestTimerNotification(60, false);
    EXPECT_EQ(pendingIds(), Ids{"tessaron.rest-timer.2"}) << "two schedules in a row";
    EXPECT_EQ(center.pendingNow().at(0).request.seconds, 60);

    notifications.scheduleRestTimerNotification(30, false);
    notifications.cancelRestTimerNotifications();
    EXPECT_EQ(pendingIds(), Ids{}) << "a cancel right after a schedule";

    notifications.cancelRestTimerNotifications();
    notifications.scheduleRestTimerNotification(20, true);
    EXPECT_EQ(pendingIds(), Ids{"tessaron.rest-timer.6"}) << "a schedule right after a cancel";

    notifications.scheduleRestTimerNotification(20, true);
    pendingIds();
    notifications.cancelRestTimerNotifications();
    EXPECT_EQ(pendingIds(), Ids{}) << "a cancel of an added request";
}

TEST_F(RestTimerNotificationsTest, LessThanASecondLeftCancels) {
    notifications.scheduleRestTimerNotification(30, false);
    pendingIds();
    notifications.scheduleRestTimerNotification(0, false);
    EXPECT_EQ(pendingIds(), Ids{});
    notifications.scheduleRestTimerNotification(30, false);
    pendingIds();
    notifications.scheduleRestTimerNotification(0.99, false);
    EXPECT_EQ(pendingIds(), Ids{});
    notifications.scheduleRestTimerNotification(30, false);
    pendingIds();
    notifications.scheduleRestTimerNotification(std::nan(""), false);
    EXPECT_EQ(pendingIds(), Ids{});
    EXPECT_EQ(gated.adds, 3);
}

TEST_F(RestTimerNotificationsTest, OnlyRequestsOfTheRestTimerAreRemoved) {
    center.add({"other.reminder", {}, 100}, {});
    center.add({"tessaron.rest-timer.99", {}, 100}, {});
    notifications.scheduleRestTimerNotification(30, false);
    EXPECT_EQ(pendingIds(), (Ids{"other.reminder", "tessaron.rest-timer.1"}));
    notifications.cancelRestTimerNotifications();
    EXPECT_EQ(pendingIds(), Ids{"other.reminder"});
}

TEST_F(RestTimerNotificationsTest, AScheduleOvertakenWhileWaitingForTheSettingsAddsNothing) {
    gated.holdSettings = true;
    notifications.scheduleRestTimerNotification(30, false);
    executor.runUntilIdle();
    notifications.cancelRestTimerNotifications();
    executor.runUntilIdle();
    gated.holdSettings = false;
    gated.releaseHeld();
    EXPECT_EQ(pendingIds(), Ids{});
    EXPECT_EQ(gated.adds, 0);
}

TEST_F(RestTimerNotificationsTest, AnAddThatCompletesAfterANewerCallRemovesItsRequest) {
    // The calls' own sweeps of the pending list are held back, so only the add's completion can
    // take the stale request away.
    gated.holdAdds = true;
    gated.holdPending = true;
    notifications.scheduleRestTimerNotification(30, false);
    executor.runUntilIdle();
    notifications.scheduleRestTimerNotification(45, true);
    EXPECT_EQ(pendingIds(), (Ids{"tessaron.rest-timer.1", "tessaron.rest-timer.2"}));

    gated.releaseHeld(&gated.holdAdds);
    EXPECT_EQ(pendingIds(), Ids{"tessaron.rest-timer.2"});
    gated.releaseHeld();
    EXPECT_EQ(pendingIds(), Ids{"tessaron.rest-timer.2"});
}

class DeniedNotifications : public RestTimerNotificationsTest {
protected:
    DeniedNotifications() : RestTimerNotificationsTest(Status::denied) {}
};

TEST_F(DeniedNotifications, NothingIsEverScheduled) {
    notifications.scheduleRestTimerNotification(30, false);
    EXPECT_EQ(pendingIds(), Ids{});
    EXPECT_EQ(gated.adds, 0);

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

TEST_F(UndecidedUser, AFailedRequestIsLogged) {
    center.failNextAuthorizationRequest({"The operation couldn't be completed."});
    notifications.setUpNotifications({});
    executor.runUntilIdle();
    EXPECT_EQ(log.lines(), std::vector<std::string>{
                               "Notification authorization failed: The operation couldn't be "
                               "completed."});
    EXPECT_TRUE(center.categoriesNow().empty());
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
    EXPECT_EQ(gated.adds, 0);
}

TEST_F(RestTimerNotificationsTest, AnswersAfterTheBookkeepingIsGoneDoNothing) {
    std::optional<RestTimerNotifications> shortLived;
    shortLived.emplace(executor, gated, log);
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
