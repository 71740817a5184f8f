#include "platform/exec/manual_executor.hpp"
#include "platform/notifications/simulated_notification_center.hpp"
#include "platform/observe/observable.hpp"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Names = std::vector<std::string>;

platform::NotificationRequest request(std::string identifier, double seconds) {
    return {std::move(identifier), {"Title", "Body", "category", true}, seconds};
}

// The rest timer's alerts are tested on this center: it has to fire, replace and withdraw them
// as the platform would, and only for a permitted app.
TEST(NotificationCenterTest, RequestsFireOnTheClockUnlessReplacedRemovedOrNotPermitted) {
    platform::ManualExecutor executor;
    platform::SimulatedNotificationCenter center(executor,
                                                 platform::SimulatedNotificationAnswer::deny);
    Names delivered;
    center.onDeliver([&](const auto& d) { delivered.push_back(d.request.identifier); });
    std::vector<bool> refused;
    auto add = [&](auto r) { center.add(r, [&](auto error) { refused.push_back(bool(error)); }); };
    add(request("unasked", 1));
    center.requestAuthorization({.alert = true}, [](bool, auto) {});
    add(request("denied", 1));
    executor.runUntilIdle();
    center.setAuthorizationStatus(platform::NotificationAuthorizationStatus::authorized);
    const auto start = executor.now();
    for (auto r : {request("a", 10), request("b", 2.5), request("c", 5), request("zero", 0)}) {
        add(r);
    }
    executor.advanceBy(2s);
    EXPECT_EQ(refused, (std::vector<bool>{true, true, false, false, false, true}));
    add(request("a", 10)); // now due at 12 s
    center.removePendingNotificationRequests({"c", "unknown"});
    executor.advanceTo(start + 11999ms);
    EXPECT_EQ(delivered, Names{"b"});
    ASSERT_EQ(center.deliveredNow().size(), 1u);
    EXPECT_EQ(center.deliveredNow()[0].date, start + 2500ms);
    executor.advanceBy(1ms);
    EXPECT_EQ(delivered, (Names{"b", "a"}));
    EXPECT_TRUE(center.pendingNow().empty());
    center.removeDeliveredNotifications({"b"});
    executor.runUntilIdle();
    ASSERT_EQ(center.deliveredNow().size(), 1u);
    EXPECT_EQ(center.deliveredNow()[0].request.identifier, "a");
}

TEST(ObservableTest, ObserversHearEveryWriteUntilTheirSubscriptionEndsEvenWhileBeingTold) {
    platform::Observable<int> reps(0);
    Names told;
    std::optional<platform::Subscription> first;
    std::optional<platform::Subscription> late;
    first = reps.observe([&](const int& value) {
        told.push_back("first " + std::to_string(value) + "=" + std::to_string(reps.get()));
        first.reset();
        late = reps.observe([&](const int& v) { told.push_back("late " + std::to_string(v)); });
    });
    auto last = reps.observe([&](const int& v) { told.push_back("last " + std::to_string(v)); });
    reps = 1;
    reps.set(1);
    late.reset();
    reps.modify([](int& value) { value += 1; });
    EXPECT_EQ(told, (Names{"first 1=1", "last 1", "last 1", "late 1", "last 2"}));

    // A subscription may outlive its observable, moved or not.
    platform::Subscription kept;
    {
        platform::Observable<int> gone;
        kept = gone.observe([](const int&) {});
    }
    kept.reset();
}

} // namespace
