#pragma once

#include "platform/exec/queue.hpp"
#include "platform/notifications/notification_center.hpp"
#include "platform/store/key_value_store.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// What the simulated user answers when the program asks for permission to notify.
enum class SimulatedNotificationAnswer { allow, deny, undecided };

// "allow", "deny" or "undecided" (the program's --notifications flag).
std::optional<SimulatedNotificationAnswer> parseSimulatedNotificationAnswer(std::string_view text);

// The notification service on the executor's clock: pending requests fire when their time
// comes and move to the delivered list. Its state lives on its own serial queue; every
// operation is queued there and answers from there. Given a store, it outlives the program as
// the platform's does: requests still pending fire at their time after a restart, or are found
// delivered when their time passed while the program was down.
class SimulatedNotificationCenter final : public NotificationCenter {
public:
    // The platform keeps only the newest delivered notifications.
    static constexpr std::size_t maxDelivered = 64;

    explicit SimulatedNotificationCenter(
        Executor& executor, SimulatedNotificationAnswer answer = SimulatedNotificationAnswer::allow,
        NotificationAuthorizationStatus initialStatus =
            NotificationAuthorizationStatus::notDetermined,
        KeyValueStore* store = nullptr);
    // Drops requests that have not fired and completions not yet called.
    ~SimulatedNotificationCenter() override;
    SimulatedNotificationCenter(const SimulatedNotificationCenter&) = delete;
    SimulatedNotificationCenter& operator=(const SimulatedNotificationCenter&) = delete;

    void requestAuthorization(NotificationAuthorizationOptions options,
                              AuthorizationCompletion completion) override;
    void getNotificationSettings(SettingsCompletion completion) override;
    void setNotificationCategories(std::vector<NotificationCategory> categories) override;
    void getNotificationCategories(CategoriesCompletion completion) override;
    void add(NotificationRequest request, AddCompletion completion) override;
    void getPendingNotificationRequests(PendingCompletion completion) override;
    void removePendingNotificationRequests(std::vector<std::string> identifiers) override;
    void removeAllPendingNotificationRequests() override;
    void getDeliveredNotifications(DeliveredCompletion completion) override;
    void removeDeliveredNotifications(std::vector<std::string> identifiers) override;
    void removeAllDeliveredNotifications() override;

    // The user changing the permission in the system settings.
    void setAuthorizationStatus(NotificationAuthorizationStatus status);
    // The next authorisation request fails with this error (the platform refusing to ask).
    void failNextAuthorizationRequest(NotificationError error);
    // Called on the center's queue each time a request fires.
    void onDeliver(std::function<void(const DeliveredNotification&)> handler);

    // Synchronous views for the control channel and tests; they wait for the center's queue, so
    // they must not be called from it.
    std::vector<PendingNotification> pendingNow() const;
    std::vector<DeliveredNotification> deliveredNow() const;
    std::vector<NotificationCategory> categoriesNow() const;
    NotificationAuthorizationStatus authorizationStatusNow() const;
    std::size_t authorizationRequestCount() const;

    std::string_view queueLabel() const { return queue_->label(); }

private:
    struct Pending {
        PendingNotification notification;
        TaskHandle fire;
        std::uint64_t token = 0;
    };

    void restore();
    void save();
    void schedule(NotificationRequest request, TimePoint fireDate);
    void recordDelivered(DeliveredNotification delivered);
    void fire(const std::string& identifier, std::uint64_t token);
    void removePending(const std::vector<std::string>& identifiers);

    Executor& executor_;
    KeyValueStore* store_;
    // Touched only on queue_.
    SimulatedNotificationAnswer answer_;
    NotificationAuthorizationStatus status_;
    std::optional<NotificationError> nextAuthorizationError_;
    std::size_t authorizationRequests_ = 0;
    std::vector<NotificationCategory> categories_;
    // In the order they were added.
    std::vector<Pending> pending_;
    std::vector<DeliveredNotification> delivered_;
    std::function<void(const DeliveredNotification&)> deliverHandler_;
    std::uint64_t nextToken_ = 1;
    // Last, so that it goes first: its dropped tasks refer to the state above.
    std::unique_ptr<Queue> queue_;
};

} // namespace platform
